#include "video/video_manager.h"

#include <cinttypes>
#include <cstdarg>
#include <new>

#include "gateway/client_message.h"
#include "infra/text_helpers.h"
#include "infra/time.h"
#include "video/stream_timing.h"

namespace quorvel {

namespace {

const char kSubscribe[] = "video/realtime/subscribe";
const char kUnsubscribe[] = "video/realtime/unsubscribe";
const char kStream[] = "video/stream";
// The short request form of the older Gateways.
constexpr int kShortFormProtocolLevel = 2;

}  // namespace

// Every line of this class goes out at the debug level, errors included;
// nothing is formatted when no one would read it.
#define VM_LOG(method, format, ...)                                                   \
  do {                                                                                \
    IDriver* const log_ = m_driver;                                                   \
    if (log_ != nullptr && log_->WouldLog(LOG_DEBUG)) {                               \
      log_->DebugMessage(LOG_DEBUG, format, "quorvel::CVideoManager::" method,        \
                         ##__VA_ARGS__);                                              \
    }                                                                                 \
  } while (0)

CVideoManager::CVideoManager(CGWClient* client) : m_client(client) {
  if (m_client != nullptr) {
    m_client->RegisterReceiver(std::string(kSubscribe) + kUnsubscribe + kStream, this);
  }
}

CVideoManager::~CVideoManager() {
  // After this no delivery runs or starts: the client unregisters under the
  // lock its dispatch holds.
  if (m_client != nullptr) m_client->UnregisterReceiver(this);
  CBaseThread::Stop(kThreadStopTimeoutMs);
}

bool CVideoManager::AddChannel(const ChannelStreamRecord& record) {
  CLockGuard threadGuard(m_threadLock);
  bool first = false;
  {
    CLockGuard guard(m_lock);
    m_channels[record.channel] = record;
    first = m_channels.size() == 1;
  }
  Send_StartChannel(record);
  const bool result = first ? CBaseThread::Start(kThreadName) : true;
  VM_LOG("AddChannel", "%s: (ch=%u) Result is %s (thread should be started = %s)",
         record.channel, result ? "OK" : "FAILED", first ? "yes" : "no");
  return result;
}

void CVideoManager::RemoveChannel(const ChannelStreamRecord& record) {
  bool last = false;
  Lines lines;
  {
    CLockGuard threadGuard(m_threadLock);
    {
      CLockGuard guard(m_lock);
      auto it = m_channels.find(record.channel);
      if (it != m_channels.end()) {
        Send_StopChannel(it->second, &lines);
        m_channels.erase(it);
        last = m_channels.empty();
      } else {
        Note(&lines, "%s: ERROR Channel %u not found", "quorvel::CVideoManager::RemoveChannel",
             record.channel);
      }
    }
    Flush(lines);
    // The loop needs m_lock to finish its pass, so it is stopped outside it.
    if (last) CBaseThread::Stop(m_stopTimeoutMs.load());
  }
  VM_LOG("RemoveChannel", "%s: (ch=%u) (thread should be stopped = %s)", record.channel,
         last ? "yes" : "no");
}

void CVideoManager::ProcessServerMessage(ServerMessage& message) {
  // Replies to subscribe and unsubscribe carry nothing the manager uses.
  if (!message.IsCommand(kStream)) return;
  ProcessVideoStreamResponse(message);
}

void CVideoManager::ProcessVideoStreamResponse(ServerMessage& message) {
  const std::string_view status = message.HeaderView(ServerMessage::Known::kStatus);
  int parsed = 0;
  ParseInt(message.HeaderView(ServerMessage::Known::kCid), parsed);  // 0 when it is not a number
  const std::uint32_t cid = static_cast<std::uint32_t>(parsed);
  VM_LOG("ProcessVideoStreamResponse", "%s: cid=%u status=%.*s", cid, static_cast<int>(status.size()),
         status.data());
  if (status == "OK") {
    DeliverFrame(cid, message);
  } else if (status == "NoSignal") {
    SetStatus(cid, kStatusSignalLost);
  } else if (status == "Connecting") {
    // The Gateway is still reaching the camera: the status stays.
  } else {
    SetStatus(cid, kStatusOffline);
  }
}

void CVideoManager::SetStatus(std::uint32_t channelNumber, int status) {
  ICameraChannel* channel = BeginCall(channelNumber);
  if (channel == nullptr) return;
  // Ends the mark also when the channel throws, so that a RemoveChannel
  // waiting for it cannot hang.
  CCallTracker::Scope scope(m_calls, channel);
  channel->SetChannelStatus(status);
}

void CVideoManager::DeliverFrame(std::uint32_t channelNumber, ServerMessage& message) {
  ICameraChannel* channel = BeginCall(channelNumber);
  if (channel == nullptr) return;
  // One mark for the status and the frame: a frame costs one map look-up.
  CCallTracker::Scope scope(m_calls, channel);
  channel->SetChannelStatus(kStatusOnline);
  channel->OnFrame(message);
}

ICameraChannel* CVideoManager::BeginCall(std::uint32_t channelNumber) {
  CLockGuard guard(m_lock);
  auto it = m_channels.find(channelNumber);
  if (it == m_channels.end() || it->second.cameraChannel == nullptr) return nullptr;
  ICameraChannel* channel = it->second.cameraChannel;
  m_calls.Enter(channel);
  return channel;
}

ClientMessage* CVideoManager::BuildRequest(const char* command, const ChannelStreamRecord& record,
                                           bool subscribe) {
  ClientMessage* message = new (std::nothrow) ClientMessage(command);
  if (message == nullptr) return nullptr;
  const int level = m_client != nullptr ? m_client->GetProtocolLevel()
                                        : CSendReceiveBase::kDefaultProtocolLevel;
  message->AddParam("gid", record.channel);
  if (level != kShortFormProtocolLevel) {
    message->AddParam("cid", record.channel);
    message->AddParam("pid", record.camera.pid);
    if (subscribe) {
      message->AddParam("format", std::string(record.native != 0 ? "Native" : "JPEG"));
      message->AddParam("type", std::string(record.streamType == 1 ? "FullRate" : "MotionOnly"));
    }
  } else {
    message->AddParam("cid", FormatString("%s:%u", record.camera.pid.c_str(), record.channel));
    if (subscribe) message->AddParam("format", std::string("JPEG"));
  }
  if (subscribe) {
    message->AddParam("width", record.width);
    message->AddParam("height", record.height);
    message->AddParam("starttime", FormatString("%" PRIu64, GetUnixTimeMs()));
  }
  return message;
}

bool CVideoManager::Queue(const char* method, const char* command, std::uint32_t channel,
                          ClientMessage* message, Lines* lines) {
  if (message == nullptr) {
    Note(lines, "%s: ERROR (ch=%u) Unable to create message '%s'", method, channel, command);
    return false;
  }
  bool sent = false;
  if (m_client != nullptr) {
    // The client owns the message from here, also when it refuses it.
    sent = m_client->Send(message);
  } else {
    delete message;
  }
  if (sent) {
    Note(lines, "%s: (ch=%u) Message '%s' was sent", method, channel, command);
  } else {
    Note(lines, "%s: ERROR (ch=%u) Unable to send message '%s'", method, channel, command);
  }
  return sent;
}

void CVideoManager::Note(Lines* lines, const char* format, ...) {
  IDriver* const log = m_driver;
  if (log == nullptr || !log->WouldLog(LOG_DEBUG)) return;
  va_list args;
  va_start(args, format);
  std::string line;
  try {
    line = FormatStringV(format, args);
  } catch (...) {
    line.clear();  // no memory: the line is lost, the request is not
  }
  va_end(args);
  if (line.empty()) return;
  if (lines == nullptr) {
    log->DebugMessage(LOG_DEBUG, "%s", line.c_str());
    return;
  }
  try {
    lines->push_back(std::move(line));
  } catch (...) {
    // Dropped like any line that cannot be built.
  }
}

void CVideoManager::Flush(const Lines& lines) {
  IDriver* const log = m_driver;
  if (log == nullptr) return;
  for (const std::string& line : lines) log->DebugMessage(LOG_DEBUG, "%s", line.c_str());
}

bool CVideoManager::Send_StartChannel(const ChannelStreamRecord& record, Lines* lines) {
  ClientMessage* message = nullptr;
  try {
    message = BuildRequest(kSubscribe, record, true);
  } catch (...) {
    message = nullptr;
  }
  return Queue("quorvel::CVideoManager::Send_StartChannel", kSubscribe, record.channel, message,
               lines);
}

bool CVideoManager::Send_StopChannel(const ChannelStreamRecord& record, Lines* lines) {
  ClientMessage* message = nullptr;
  try {
    message = BuildRequest(kUnsubscribe, record, false);
  } catch (...) {
    message = nullptr;
  }
  return Queue("quorvel::CVideoManager::Send_StopChannel", kUnsubscribe, record.channel, message,
               lines);
}

std::size_t CVideoManager::GetChannelCount() {
  CLockGuard guard(m_lock);
  return m_channels.size();
}

void CVideoManager::ResubscribeAll() {
  // Like the restart pass: queuing does not wait for the network.
  Lines lines;
  {
    CLockGuard guard(m_lock);
    for (const auto& entry : m_channels) {
      if (entry.second.camera.pid.empty()) continue;
      Note(&lines, "%s: (ch=%u) subscribe again after a reconnection",
           "quorvel::CVideoManager::ResubscribeAll", entry.first);
      Send_StartChannel(entry.second, &lines);
    }
  }
  Flush(lines);
}

void CVideoManager::ThreadFunction() {
  VM_LOG("ThreadFunction", "%s: Enter...");
  while (!WaitForStop(GetStreamTiming().restartPassMs)) {
    Lines lines;
    try {
      CLockGuard guard(m_lock);
      for (const auto& entry : m_channels) {
        if (IsStopSignalled()) break;
        ICameraChannel* channel = entry.second.cameraChannel;
        if (channel == nullptr) continue;
        const int refresh = channel->GetRefreshStatus();
        if (refresh == kStatusOffline) {
          Note(&lines, "%s: (ch=%u) refresh status is %d - restart channel",
               "quorvel::CVideoManager::ThreadFunction", entry.first, refresh);
          Send_StopChannel(entry.second, &lines);
          Send_StartChannel(entry.second, &lines);
        }
      }
    } catch (...) {
      // A failed pass is retried on the next one.
    }
    Flush(lines);
  }
  VM_LOG("ThreadFunction", "%s: Exit");
}

}  // namespace quorvel
