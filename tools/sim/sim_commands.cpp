#include "sim_commands.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "sim_text.h"

namespace strevon {
namespace sim {

namespace {

bool ToBool(const std::string& text, bool* out) {
  if (text == "on" || text == "On" || text == "1" || text == "true") {
    *out = true;
    return true;
  }
  if (text == "off" || text == "Off" || text == "0" || text == "false") {
    *out = false;
    return true;
  }
  return false;
}

CommandResult Ok(const std::string& what) { return {"ok " + what, false}; }
CommandResult Error(const std::string& what) { return {"error " + what, false}; }

}  // namespace

std::string CommandHelp() {
  return
      "reset [CONN]                  reset connections now (SO_LINGER 0)\n"
      "close [CONN]                  orderly close\n"
      "reset-after-frames N [CONN]   reset after N more frames\n"
      "reset-after-ms T [CONN]       reset after T ms\n"
      "reset-mid-header [CONN]       next message stops inside its header, then reset\n"
      "reset-mid-body [CONN]         next message with a body stops inside it, then reset\n"
      "garbage N [CONN]              write N junk bytes now (before the next marker)\n"
      "header-length N [CONN]        a message with header length N (0, 600, 1048576, ...)\n"
      "body-too-long [CONN]          a stream message with body length 0x100000, no body\n"
      "ping [CONN] | ping-flood N [CONN] | ping-every MS\n"
      "validation COMMAND [CONN]     a request/validation message for COMMAND\n"
      "unsolicited CID [CONN]        a stream frame for CID and an event nobody subscribed to\n"
      "event TYPE PID STATUS         push a recorder/event to subscribers\n"
      "input PID on|off              set an input and push its IOState event\n"
      "toggle-ms MS                  input toggle period (0 = off)\n"
      "stall CID | unstall CID       hold back / resume frames of a channel\n"
      "status CID WORD               Status word of a channel's stream (OK = normal)\n"
      "cid-fault none|out-of-range|not-numeric\n"
      "omit-headers none|size|fourcc|both  leave Size and/or Fourcc out of stream messages\n"
      "xml COMMAND|* none|malformed|empty|huge\n"
      "slow on|off                   slow writer (one byte every 10 ms)\n"
      "trickle MS                    one byte every MS ms, for every write (0 = off)\n"
      "never COMMAND | answer COMMAND\n"
      "never-takeover PID | takeover PID\n"
      "delay COMMAND MS              reply delay (0 = none)\n"
      "reset-on COMMAND | no-reset-on COMMAND\n"
      "refuse SECONDS [reset]        refuse connections (close listener, or accept-and-reset)\n"
      "level2 on|off\n"
      "stats                         counters as one JSON line\n"
      "help | quit\n";
}

CommandResult RunCommand(GatewaySimulator& sim, const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string word; in >> word;) w.push_back(word);
  if (w.empty() || w[0][0] == '#') return {};
  const std::string& cmd = w[0];
  std::uint64_t n = 0;
  std::uint64_t conn = 0;
  // Optional trailing connection id at position i.
  auto conn_at = [&](std::size_t i) { return w.size() <= i || ParseUint64(w[i], &conn); };
  auto count = [](std::size_t k) { return "delivered to " + std::to_string(k); };

  if (cmd == "quit" || cmd == "exit") return {"ok bye", true};
  if (cmd == "help") {
    std::string text = CommandHelp();
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return {text, false};
  }
  if (cmd == "reset" && conn_at(1)) return Ok(count(sim.ResetConnections(conn)));
  if (cmd == "close" && conn_at(1)) return Ok(count(sim.CloseConnections(conn)));
  if (cmd == "reset-mid-header" && conn_at(1)) return Ok(count(sim.ResetMidHeader(conn)));
  if (cmd == "reset-mid-body" && conn_at(1)) return Ok(count(sim.ResetMidBody(conn)));
  if (cmd == "body-too-long" && conn_at(1)) return Ok(count(sim.SendBodyTooLong(conn)));
  if (cmd == "ping" && conn_at(1)) return Ok(count(sim.SendPing(conn)));
  if (w.size() >= 2 && ParseUint64(w[1], &n) && conn_at(2)) {
    if (cmd == "reset-after-frames") return Ok(count(sim.ResetAfterFrames(n, conn)));
    if (cmd == "reset-after-ms") return Ok(count(sim.ResetAfter(std::chrono::milliseconds(n), conn)));
    if (cmd == "garbage") return Ok(count(sim.SendGarbage(n, conn)));
    if (cmd == "header-length" && n <= 0xFFFFFFFFull) {
      return Ok(count(sim.SendHeaderLength(static_cast<std::uint32_t>(n), conn)));
    }
    if (cmd == "ping-flood") return Ok(count(sim.SendPingFlood(n, conn)));
    if (cmd == "unsolicited" && n <= 0xFFFFFFFFull) {
      return Ok(count(sim.SendUnsolicited(static_cast<std::uint32_t>(n), conn)));
    }
  }
  if (w.size() == 2 && ParseUint64(w[1], &n)) {
    if (cmd == "ping-every") {
      sim.SetPingInterval(std::chrono::milliseconds(n));
      return Ok(cmd);
    }
    if (cmd == "trickle" && n <= 60000) {
      sim.UpdateFaults([n](FaultSettings& f) { f.trickle_ms = static_cast<int>(n); });
      return Ok(cmd);
    }
    if (cmd == "toggle-ms") {
      sim.SetInputTogglePeriod(std::chrono::milliseconds(n));
      return Ok(cmd);
    }
    if (cmd == "stall" || cmd == "unstall") {
      sim.SetStalled(static_cast<std::uint32_t>(n), cmd == "stall");
      return Ok(cmd + " " + w[1]);
    }
  }
  if (cmd == "validation" && w.size() >= 2 && conn_at(2)) return Ok(count(sim.SendValidationRequest(w[1], conn)));
  if (cmd == "event" && w.size() == 4) return Ok(count(sim.PushEvent(w[1], w[2], w[3])));
  bool flag = false;
  if (cmd == "input" && w.size() == 3 && ToBool(w[2], &flag)) return Ok(count(sim.SetInput(w[1], flag)));
  if (cmd == "status" && w.size() == 3 && ParseUint64(w[1], &n)) {
    sim.SetStreamStatus(static_cast<std::uint32_t>(n), w[2]);
    return Ok(cmd);
  }
  if (cmd == "cid-fault" && w.size() == 2) {
    CidFault fault;
    if (!ParseCidFault(w[1], &fault)) return Error("unknown cid fault " + w[1]);
    sim.SetCidFault(fault);
    return Ok(cmd);
  }
  if (cmd == "omit-headers" && w.size() == 2) {
    OmittedHeaders omitted;
    if (!ParseOmittedHeaders(w[1], &omitted)) return Error("unknown header omission " + w[1]);
    sim.SetOmittedHeaders(omitted);
    return Ok(cmd);
  }
  if (cmd == "xml" && w.size() == 3) {
    XmlFault fault;
    if (!ParseXmlFault(w[2], &fault)) return Error("unknown xml fault " + w[2]);
    sim.SetXmlFault(w[1], fault);
    return Ok(cmd);
  }
  if (cmd == "slow" && w.size() == 2 && ToBool(w[1], &flag)) {
    sim.SetSlowWriter(flag);
    return Ok(cmd);
  }
  if (cmd == "level2" && w.size() == 2 && ToBool(w[1], &flag)) {
    sim.SetLevel2(flag);
    return Ok(cmd);
  }
  if ((cmd == "never" || cmd == "answer") && w.size() == 2) {
    sim.SetNeverAnswer(w[1], cmd == "never");
    return Ok(cmd);
  }
  if ((cmd == "never-takeover" || cmd == "takeover") && w.size() == 2) {
    sim.SetNeverTakeover(w[1], cmd == "never-takeover");
    return Ok(cmd);
  }
  if ((cmd == "reset-on" || cmd == "no-reset-on") && w.size() == 2) {
    sim.SetResetOn(w[1], cmd == "reset-on");
    return Ok(cmd);
  }
  if (cmd == "delay" && w.size() == 3 && ParseUint64(w[2], &n)) {
    sim.SetReplyDelay(w[1], std::chrono::milliseconds(n));
    return Ok(cmd);
  }
  if (cmd == "refuse" && (w.size() == 2 || (w.size() == 3 && w[2] == "reset")) && ParseUint64(w[1], &n)) {
    sim.RefuseConnections(std::chrono::seconds(n),
                          w.size() == 3 ? RefuseMode::kAcceptAndReset : RefuseMode::kCloseListener);
    return Ok(cmd);
  }
  if (cmd == "stats" && w.size() == 1) {
    nlohmann::json j;
    j["port"] = sim.Port();
    j["connections_accepted"] = sim.ConnectionsAccepted();
    j["connections_active"] = sim.ActiveConnections();
    j["frames_total"] = sim.TotalFramesSent();
    j["requests"] = sim.Requests().size();
    return {j.dump(), false};
  }
  return Error("unknown or malformed command: " + line);
}

}  // namespace sim
}  // namespace strevon
