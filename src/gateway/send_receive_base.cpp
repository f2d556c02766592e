#include "gateway/send_receive_base.h"

#include "gateway/wire_format.h"
#include "infra/device_info.h"

namespace quorvel {

CSendReceiveBase::~CSendReceiveBase() {
  m_transport.Shutdown();
  // On its own thread (the last holder of a kept-alive owner) the reading
  // is over; any other thread still running may still read the descriptor.
  if (CBaseThread::Stop(2000) || IsCurrentThread()) {
    m_transport.Cleanup();
  } else {
    m_transport.Abandon();
  }
}

bool CSendReceiveBase::Connect(const DEVICE_INFO& info) {
  m_deviceInfo = info;
  m_reader.Reset();
  CEvent* abort = m_connectAbort.load();
  if (abort == nullptr) return m_transport.Connect(info);
  return m_transport.Connect(info, [abort](std::uint32_t ms) { return abort->Wait(ms); });
}

void CSendReceiveBase::Disconnect() {
  m_transport.Cleanup();
  m_reader.Reset();
}

bool CSendReceiveBase::Send(ClientMessage& message) {
  std::vector<char> frame;
  message.Serialize(frame);
  return m_transport.Send(frame);
}

bool CSendReceiveBase::ReceiveBytes(char* out, std::uint32_t count) {
  return m_reader.Read(out, count);
}

std::uint32_t CSendReceiveBase::ReadLength() {
  unsigned char bytes[wire::kLengthSize];
  if (!ReceiveBytes(reinterpret_cast<char*>(bytes), wire::kLengthSize)) return 0;
  return wire::GetUint32Le(bytes);
}

bool CSendReceiveBase::ReadBlock(std::vector<char>& out) {
  out.clear();
  if (IsStopSignalled()) return false;
  const std::uint32_t length = ReadLength();
  if (length == 0 || length > wire::kMaxBlockLength) return false;
  out.resize(length);
  if (ReceiveBytes(out.data(), length)) return true;
  out.clear();
  return false;
}

bool CSendReceiveBase::WaitForMessageStart() {
  const char* const marker = reinterpret_cast<const char*>(wire::kStartMarker);
  if (m_reader.SkipIfNext(marker, wire::kStartMarkerSize)) return true;
  return m_reader.SkipPast(marker, wire::kStartMarkerSize,
                           [this] { return !IsStopSignalled() && m_transport.IsConnected(); });
}

bool CSendReceiveBase::ReceiveHead(ServerMessage& message, std::uint32_t& bodyLength) {
  bodyLength = 0;
  if (IsStopSignalled()) return false;
  const std::uint32_t headerLength = ReadLength();
  if (headerLength == 0 || headerLength > wire::kMaxBlockLength) {
    return false;  // nothing allocated, nothing read further
  }
  if (headerLength >= wire::kHeaderLimit) {
    m_reader.Skip(headerLength);
    return false;
  }
  if (!ReceiveBytes(message.HeaderSpace(headerLength), headerLength)) {
    message.HeaderSpace(0);
    return false;
  }
  bodyLength = ReadLength();
  return true;
}

bool CSendReceiveBase::ReceiveMessage(ServerMessage& message) {
  message.Clear();
  std::uint32_t bodyLength = 0;
  if (ReceiveHead(message, bodyLength) && bodyLength != 0 && bodyLength <= wire::kMaxBlockLength &&
      !ReceiveBytes(message.BodySpace(bodyLength), bodyLength)) {
    message.BodySpace(0);
  }
  return message.Parse();
}

bool CSendReceiveBase::ReceiveMessageHead(ServerMessage& message) {
  message.Clear();
  std::uint32_t bodyLength = 0;
  if (ReceiveHead(message, bodyLength) && bodyLength != 0 && bodyLength <= wire::kMaxBlockLength) {
    message.SetPendingBody(&m_bodyReader, bodyLength);
  }
  return message.Parse();
}

}  // namespace quorvel
