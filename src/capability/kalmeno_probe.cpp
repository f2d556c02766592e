#include "capability/kalmeno_probe.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <thread>

#include "gateway/client_message.h"
#include "gateway/wire_format.h"
#include "infra/device_info.h"
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
  m_deadline = Clock::now() + std::chrono::milliseconds(device.connectTimeout) + m_replyBudget;
  if (!m_transport.Connect(device, [this](std::uint32_t ms) { return WaitBeforePoll(ms); })) {
    return 0;
  }

  int version = 0;
  ClientMessage request(kAuthenticate);
  request.AddParam("user-agent", std::string(kUserAgent));
  std::vector<char> frame;
  request.Serialize(frame);
  if (!ShouldStop() && m_transport.Send(frame)) {
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
  // A negative or wrapped version would pass for an answer and set a
  // protocol level below 3.
  if (!value.empty()) {
    return static_cast<int>(std::min<std::uint32_t>(ParseLeadingUint(value), INT_MAX));
  }
  return headerText.find(kAuthenticate) != std::string::npos ? kLevel2Version : 0;
}

bool CKalmenoProbe::ShouldStop() const {
  return Clock::now() >= m_deadline || (m_abort != nullptr && m_abort->Wait(0));
}

bool CKalmenoProbe::WaitBeforePoll(std::uint32_t ms) const {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
  if (left.count() <= 0) return true;
  const auto slice = std::min<std::uint32_t>(ms, static_cast<std::uint32_t>(left.count()));
  if (m_abort != nullptr) {
    if (m_abort->Wait(slice)) return true;
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(slice));
  }
  return Clock::now() >= m_deadline;
}

// The transport looks at the check before each read and about every 100 ms
// while it waits, so no read outlasts the deadline by more than that.
bool CKalmenoProbe::ReadBytes(std::vector<char>& out, std::uint32_t count) {
  return m_transport.Receive(out, static_cast<int>(count), [this] { return ShouldStop(); });
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
