#include "gateway/send_receive_base.h"

#include <algorithm>
#include <cstring>

#include "gateway/wire_format.h"

namespace quorvel {

CSendReceiveBase::~CSendReceiveBase() {
  m_transport.Shutdown();
  CBaseThread::Stop(2000);
  m_transport.Cleanup();
}

bool CSendReceiveBase::Connect(const DEVICE_INFO& info) {
  m_deviceInfo = info;
  CEvent* abort = m_connectAbort.load();
  if (abort == nullptr) return m_transport.Connect(info);
  return m_transport.Connect(info, [abort](std::uint32_t ms) { return abort->Wait(ms); });
}

void CSendReceiveBase::Disconnect() { m_transport.Cleanup(); }

bool CSendReceiveBase::Send(ClientMessage& message) {
  std::vector<char> frame;
  message.Serialize(frame);
  return m_transport.Send(frame);
}

bool CSendReceiveBase::ReceiveBytes(std::vector<char>& out, std::uint32_t count) {
  return m_transport.Receive(out, static_cast<int>(count), [this] { return IsStopSignalled(); });
}

std::uint32_t CSendReceiveBase::ReadLength() {
  if (IsStopSignalled()) return 0;
  std::vector<char> bytes;
  if (!ReceiveBytes(bytes, wire::kLengthSize)) return 0;
  return wire::GetUint32Le(reinterpret_cast<const unsigned char*>(bytes.data()));
}

bool CSendReceiveBase::ReadBlock(std::vector<char>& out) {
  out.clear();
  if (IsStopSignalled()) return false;
  const std::uint32_t length = ReadLength();
  if (length == 0 || length > wire::kMaxBlockLength) return false;
  return ReceiveBytes(out, length);
}

bool CSendReceiveBase::WaitForMessageStart() {
  std::vector<char> window;
  if (!ReceiveBytes(window, wire::kStartMarkerSize)) return false;
  auto isMarker = [&window] {
    return std::memcmp(window.data(), wire::kStartMarker, wire::kStartMarkerSize) == 0;
  };
  std::vector<char> next;
  while (!isMarker()) {
    if (IsStopSignalled() || !m_transport.IsConnected()) return false;
    if (!ReceiveBytes(next, 1)) return false;
    std::rotate(window.begin(), window.begin() + 1, window.end());
    window.back() = next[0];
  }
  return true;
}

bool CSendReceiveBase::ReceiveMessage(ServerMessage& message) {
  message.Clear();
  if (!IsStopSignalled()) {
    const std::uint32_t headerLength = ReadLength();
    std::vector<char> header;
    if (headerLength != 0 && headerLength <= wire::kMaxBlockLength &&
        ReceiveBytes(header, headerLength) && headerLength < wire::kHeaderLimit) {
      message.SetHeaderData(header);
      std::vector<char> body;
      if (ReadBlock(body)) message.SetBody(body);
    }
  }
  return message.Parse();
}

}  // namespace quorvel
