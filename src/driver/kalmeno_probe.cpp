#include "driver/kalmeno_probe.h"

#include <algorithm>
#include <cstring>

#include "gateway/client_message.h"
#include "gateway/wire_format.h"
#include "infra/text_helpers.h"

namespace quorvel {

namespace {

constexpr const char* kAuthenticate = "user/authenticate";
constexpr const char* kPing = "ping";
constexpr const char* kVersionKey = "Kalmeno";
constexpr int kLevel2Version = 2;

bool StartsLikeMarker(const std::vector<char>& word) {
  return word.size() == wire::kLengthSize &&
         std::memcmp(word.data(), wire::kStartMarker, wire::kLengthSize) == 0;
}

}  // namespace

int CKalmenoProbe::Run(const DEVICE_INFO& device) {
  CEvent* abort = m_abort;
  TCPClient::AbortableWait wait;
  if (abort != nullptr) wait = [abort](std::uint32_t ms) { return abort->Wait(ms); };
  if (!m_transport.Connect(device, wait)) return 0;

  int version = 0;
  ClientMessage request(kAuthenticate);
  request.AddParam("user-agent", std::string(kUserAgent));
  std::vector<char> frame;
  request.Serialize(frame);
  if (m_transport.Send(frame)) {
    ServerMessage reply;
    for (int pass = 0; pass < kMaxPasses && ReadMessage(reply); ++pass) {
      // The Gateway may keep a connection alive with pings before it
      // answers; they carry no version.
      if (reply.IsCommand(kPing)) continue;
      version = VersionFromHeaderText(reply.GetHeaderText());
      break;
    }
  }
  m_transport.Cleanup();
  return version;
}

int CKalmenoProbe::VersionFromHeaderText(const std::string& headerText) {
  const std::string value = GetKeyValue(headerText, kVersionKey, " ", "\r\n");
  if (!value.empty()) return ParseLeadingInt(value);
  return headerText.find(kAuthenticate) != std::string::npos ? kLevel2Version : 0;
}

bool CKalmenoProbe::ReadBytes(std::vector<char>& out, std::uint32_t count) {
  return m_transport.Receive(out, static_cast<int>(count), [this] { return Aborted(); });
}

bool CKalmenoProbe::SkipMarker(const std::vector<char>& start) {
  std::vector<char> window(start);
  std::vector<char> more;
  if (!ReadBytes(more, wire::kStartMarkerSize - wire::kLengthSize)) return false;
  window.insert(window.end(), more.begin(), more.end());
  // Bounded like any block, so a Gateway that never writes the marker
  // cannot keep the probe reading for ever.
  for (std::uint32_t skipped = 0;
       std::memcmp(window.data(), wire::kStartMarker, wire::kStartMarkerSize) != 0; ++skipped) {
    if (skipped >= wire::kMaxBlockLength || !ReadBytes(more, 1)) return false;
    std::rotate(window.begin(), window.begin() + 1, window.end());
    window.back() = more[0];
  }
  return true;
}

bool CKalmenoProbe::ReadMessage(ServerMessage& message) {
  message.Clear();
  std::vector<char> word;
  if (!ReadBytes(word, wire::kLengthSize)) return false;
  std::uint32_t headerLength = wire::GetUint32Le(reinterpret_cast<const unsigned char*>(word.data()));
  // A level-2 Gateway writes no marker: its first four bytes are already a
  // header length. The marker itself starts like the length 7, which no
  // real header has; anything else that is no usable length is taken as
  // bytes before a marker.
  if (StartsLikeMarker(word) || headerLength == 0 || headerLength >= wire::kHeaderLimit) {
    if (!SkipMarker(word) || !ReadBytes(word, wire::kLengthSize)) return false;
    headerLength = wire::GetUint32Le(reinterpret_cast<const unsigned char*>(word.data()));
    if (headerLength == 0 || headerLength >= wire::kHeaderLimit) return false;
  }
  std::vector<char> header;
  if (!ReadBytes(header, headerLength) || !ReadBytes(word, wire::kLengthSize)) return false;
  const std::uint32_t bodyLength =
      wire::GetUint32Le(reinterpret_cast<const unsigned char*>(word.data()));
  if (bodyLength > wire::kMaxBlockLength) return false;
  std::vector<char> body;
  if (bodyLength != 0 && !ReadBytes(body, bodyLength)) return false;
  message.SetHeaderData(header);
  message.SetBody(body);
  message.Parse();
  return true;
}

}  // namespace quorvel
