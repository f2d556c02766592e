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
#pragma once

#include <cstdint>
#include <vector>

#include "gateway/server_message.h"
#include "gateway/tcp_client.h"
#include "infra/event.h"
#include "strevon.h"

namespace quorvel {

class CKalmenoProbe {
 public:
  // Messages read while looking for the reply, pings included.
  static constexpr int kMaxPasses = 101;
  static constexpr const char* kUserAgent = "Gateway SDK / Kalmeno 3.0";

  explicit CKalmenoProbe(CEvent* abort = nullptr) : m_abort(abort) {}

  CKalmenoProbe(const CKalmenoProbe&) = delete;
  CKalmenoProbe& operator=(const CKalmenoProbe&) = delete;

  // The Gateway's Kalmeno version, or 0 when it cannot be learned. The
  // connection is closed again in every case.
  int Run(const DEVICE_INFO& device);

  // The version that a reply's header text announces: the leading number of
  // the "Kalmeno" value, else 2 when the text answers "user/authenticate",
  // else 0.
  static int VersionFromHeaderText(const std::string& headerText);

 private:
  bool Aborted() const { return m_abort != nullptr && m_abort->Wait(0); }
  bool ReadBytes(std::vector<char>& out, std::uint32_t count);
  // Reads on from the four bytes in start until the last 15 bytes read are
  // the start marker; false when the stream fails or no marker comes within
  // the largest block length.
  bool SkipMarker(const std::vector<char>& start);
  // One server message, framed with or without the start marker.
  bool ReadMessage(ServerMessage& message);

  CEvent* const m_abort;
  TCPClient m_transport;
};

}  // namespace quorvel
