// Values that cross the simulator's public API: the record of one received
// request and the one-shot faults that can be injected into live connections.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace strevon {
namespace sim {

// One request as the simulator received it.
struct RequestRecord {
  std::uint64_t index = 0;       // position in the log, from 0
  std::uint64_t connection = 0;  // connection id, from 1 in accept order
  std::chrono::system_clock::time_point wall_time;
  std::uint64_t mono_ns = 0;  // CLOCK_MONOTONIC at receipt
  std::string command;
  std::map<std::string, std::string> params;  // percent-decoded values
  std::string raw_text;                       // the request text as sent
  bool well_formed = true;

  std::string Param(const std::string& name) const {
    auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
  }
};

// One-shot actions delivered to live connections. The numbers and texts a
// kind uses are listed beside it.
enum class InjectionKind {
  kReset,               // reset now (SO_LINGER 0, close)
  kClose,               // orderly close now
  kResetAfterFrames,    // number: reset once this many more frames went out
  kResetAfterMs,        // number: reset after this many milliseconds
  kResetMidHeader,      // the next message stops inside its header block, then reset
  kResetMidBody,        // the next message with a body stops inside it, then reset
  kGarbage,             // number: junk bytes written before the next message
  kHeaderLength,        // number: a message whose header length field is this value
  kBodyTooLong,         // a stream message whose body length is 0x100000, no body bytes
  kPing,                // one "ping"
  kPingFlood,           // number: that many "ping"s back to back
  kEvent,               // text, text2, text3: event type, pid, status (subscribers only)
  kUnsolicitedEvent,    // the same, sent whether subscribed or not
  kUnsolicitedStream,   // number: a "video/stream" frame for this cid, never subscribed
  kValidationRequest,   // text: a "request/validation" message for this command
};

struct Injection {
  InjectionKind kind = InjectionKind::kPing;
  std::uint64_t number = 0;
  std::string text;
  std::string text2;
  std::string text3;
};

// How the simulator refuses connections for a while.
enum class RefuseMode {
  kCloseListener,   // the listening socket is closed and reopened on the same port
  kAcceptAndReset,  // connections are accepted and reset at once
};

}  // namespace sim
}  // namespace strevon
