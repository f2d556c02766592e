// CKalmenoProbe: asks a Gateway which Kalmeno version it speaks, before the
// real connection is made with the matching protocol level.
//
// One short-lived connection of its own: it sends "user/authenticate" with
// the full user agent and reads whole server messages back, finding the
// start marker where the Gateway writes one and plain length-prefixed
// blocks where it does not, and passing over "ping" messages. The version
// is the "Kalmeno" value in the reply's header text ("Server: Gateway /
// Kalmeno 3.0" gives 3); a reply without one that still answers
// "user/authenticate" comes from a level-2 Gateway, which announces no
// version; anything else gives 0.
//
// Used on one thread (the capability fetch), which owns it for one Run. The
// abort event, when given, must outlive the object; it ends the connect
// attempt and every read within about 100 ms.
//
// A whole Run is bounded: the host's capability query waits for it, and a
// peer that trickles a byte every few seconds, pings without end or writes a
// long run of junk would otherwise keep every read just inside the receive
// time-out. From the start of Run the probe has the device's connectTimeout
// plus the reply budget; no wait goes beyond that, and once it has passed
// the probe gives 0 as for any unanswered probe.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "gateway/server_message.h"
#include "gateway/tcp_client.h"
#include "infra/device_info.h"
#include "infra/event.h"

namespace quorvel {

class CKalmenoProbe {
 public:
  // Messages read while looking for the reply, pings included.
  static constexpr int kMaxPasses = 101;
  static constexpr const char* kUserAgent = "Gateway SDK / Kalmeno 3.0";
  // Time for the reply after the connection attempt: two receive time-outs.
  static constexpr std::uint32_t kReplyBudgetMs = 2 * TCPClient::kSocketTimeoutMs;

  explicit CKalmenoProbe(CEvent* abort = nullptr, std::uint32_t replyBudgetMs = kReplyBudgetMs)
      : m_abort(abort), m_replyBudget(replyBudgetMs) {}

  CKalmenoProbe(const CKalmenoProbe&) = delete;
  CKalmenoProbe& operator=(const CKalmenoProbe&) = delete;

  // The Gateway's Kalmeno version, or 0 when it cannot be learned. The
  // connection is closed again in every case.
  int Run(const DEVICE_INFO& device);

  // The version that a reply's header text announces: the leading number of
  // the "Kalmeno" value (0 when negative, at most INT_MAX), else 2 when the
  // text answers "user/authenticate", else 0.
  static int VersionFromHeaderText(const std::string& headerText);

 private:
  using Clock = std::chrono::steady_clock;

  // True when the probe must give up: aborted or out of time.
  bool ShouldStop() const;
  // The wait between connection polls, cut short by the abort event and the
  // deadline.
  bool WaitBeforePoll(std::uint32_t ms) const;
  bool ReadBytes(std::vector<char>& out, std::uint32_t count);
  // Reads on from the four bytes in start until the last 15 bytes read are
  // the start marker; false when the stream fails or no marker comes within
  // the largest block length.
  bool SkipMarker(const std::vector<char>& start);
  // One server message, framed with or without the start marker.
  bool ReadMessage(ServerMessage& message);

  // Constant after construction.
  CEvent* const m_abort;
  const std::chrono::milliseconds m_replyBudget;

  // Set at the start of each Run.
  Clock::time_point m_deadline;
  TCPClient m_transport;
};

}  // namespace quorvel
