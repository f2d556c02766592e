#include "driver/ip_video_capture.h"

#include <utility>

namespace quorvel {

CIPVideoCapture::CIPVideoCapture(ICustomCreator* creator, std::uint32_t channelCount)
    : m_creator(creator), m_indexLocks(new CRecursiveLock[channelCount]), m_table(channelCount) {}

CIPVideoCapture::~CIPVideoCapture() {
  const std::uint32_t count = GetChannelCount();
  for (std::uint32_t i = 0; i < count; ++i) StopChannel(i);
}

std::uint32_t CIPVideoCapture::GetChannelCount() {
  CLockGuard guard(m_lock);
  return static_cast<std::uint32_t>(m_table.size());
}

bool CIPVideoCapture::StartChannel(std::uint32_t channel, ipcapture::IFrameHandler* handler,
                                   ipcapture::IChannelSetup* setup) {
  if (channel >= GetChannelCount() || m_creator == nullptr) return false;
  Entry previous;
  Entry entry;
  bool result = false;
  {
    CLockGuard serial(m_indexLocks[channel]);
    previous = TakeEntry(channel);
    StopEntry(previous);
    try {
      ChannelParameters block;
      std::uint32_t secondaryFlag = 0;
      if (setup != nullptr) {
        if (ipcapture::IChannelStreamSettings* stream = setup->GetStreamSettings()) {
          block.firstStreamValue = stream->GetFirstStreamValue();
          block.secondStreamValue = stream->GetSecondStreamValue();
          secondaryFlag = stream->GetSecondaryFlag();
        }
        ipcapture::IChannelVideoSettings* video = setup->GetVideoSettings();
        if (ipcapture::IChannelSize* size = video != nullptr ? video->GetSize() : nullptr) {
          block.width = size->GetWidth();
          block.height = size->GetHeight();
        }
      }
      block.one = 1;
      block.zero = 0;

      entry.channel.reset(m_creator->CreateChannel(channel, handler));
      if (entry.channel) {
        entry.channel->SetChannelSetup(setup);
        result = entry.channel->Start(&block);
        if (result && secondaryFlag != 0) {
          entry.secondary.reset(m_creator->CreateSecondaryChannel(channel, handler));
          if (entry.secondary) result = entry.secondary->Start();
        }
        CLockGuard guard(m_lock);
        std::swap(m_table[channel], entry);
      }
    } catch (...) {
      // A channel that threw before it was stored is stopped here.
      StopEntry(entry);
      result = false;
    }
  }
  ReleaseEntry(previous);
  ReleaseEntry(entry);
  return result;
}

bool CIPVideoCapture::StopChannel(std::uint32_t channel) {
  if (channel >= GetChannelCount()) return false;
  Entry entry;
  {
    CLockGuard serial(m_indexLocks[channel]);
    entry = TakeEntry(channel);
    StopEntry(entry);
  }
  return ReleaseEntry(entry);
}

bool CIPVideoCapture::ChangeChannelParameters(std::uint32_t channel, ipcapture::IChannelSize* size,
                                              std::uint32_t value) {
  if (channel >= GetChannelCount()) return false;
  CLockGuard serial(m_indexLocks[channel]);
  const std::shared_ptr<ICameraChannel> running = FindChannel(channel);
  if (!running) return false;
  ChannelParameters block;
  block.firstStreamValue = value;
  block.secondStreamValue = 0;
  if (size != nullptr) {
    block.width = size->GetWidth();
    block.height = size->GetHeight();
  }
  block.one = 1;
  block.zero = 0;
  try {
    return running->ChangeChannelParameters(&block);
  } catch (...) {
    return false;
  }
}

bool CIPVideoCapture::GetChannelStatus(std::uint32_t channel, int* status, int* detail,
                                       char* text, std::uint32_t textSize) {
  if (detail != nullptr) *detail = 0;
  if (text != nullptr && textSize != 0) text[0] = '\0';
  const std::shared_ptr<ICameraChannel> running = FindChannel(channel);
  if (!running) return false;
  int value = running->GetChannelStatus();
  // The host knows no "offline": a stopped or restarting stream reads as
  // signal lost.
  if (value == 3) value = 2;
  if (status != nullptr) *status = value;
  return true;
}

bool CIPVideoCapture::QueryChannelFeatureA(std::uint32_t channel) {
  const std::shared_ptr<ICameraChannel> running = FindChannel(channel);
  return running && running->QueryB();
}

bool CIPVideoCapture::QueryChannelFeatureB(std::uint32_t channel) {
  const std::shared_ptr<ICameraChannel> running = FindChannel(channel);
  return running && running->QueryA();
}

CIPVideoCapture::Entry CIPVideoCapture::TakeEntry(std::uint32_t channel) {
  Entry entry;
  CLockGuard guard(m_lock);
  if (channel < m_table.size()) std::swap(m_table[channel], entry);
  return entry;
}

std::shared_ptr<ICameraChannel> CIPVideoCapture::FindChannel(std::uint32_t channel) {
  CLockGuard guard(m_lock);
  if (channel >= m_table.size()) return nullptr;
  return m_table[channel].channel;
}

void CIPVideoCapture::StopEntry(Entry& entry) {
  try {
    if (entry.secondary) entry.secondary->Stop();
    if (entry.channel) entry.channel->Stop();
  } catch (...) {
    // Nothing is thrown towards the host.
  }
}

bool CIPVideoCapture::ReleaseEntry(Entry& entry) {
  const bool present = entry.channel || entry.secondary;
  try {
    entry.secondary.reset();
    if (entry.channel) entry.channel->WaitForDeliveries();
    entry.channel.reset();
  } catch (...) {
    // Nothing is thrown towards the host; what is left goes with the entry.
  }
  return present;
}

}  // namespace quorvel
