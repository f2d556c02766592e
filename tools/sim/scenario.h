// What the simulated Gateway publishes (users, profiles, cameras, I/O, video
// settings) and how it misbehaves (fault settings). A Scenario is a plain
// value: the simulator copies it at Start and keeps its own guarded copy of
// the parts that can change while it runs (fault settings, I/O states).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace strevon {
namespace sim {

struct SimUser {
  std::string name;
  std::string password;  // UTF-8
  std::vector<std::string> profiles;
  bool authorized = true;  // false: log-on answers "UserUnauthorized"
};

struct SimCamera {
  std::string pid;
  std::string name;
  bool ptz = false;
  std::string state = "OK";  // published "state"; "NoSignal" streams status-only messages
  std::vector<std::string> presets;
  std::string actions;     // "actions" of the PTZ properties, e.g. "Pan,Tilt,Zoom"
  int dome_timeout_s = 60;  // "timeout" of the PTZ properties
};

struct SimIo {
  std::string pid;
  std::string name;
  bool on = false;
};

struct SimProfile {
  std::string name;
  std::vector<SimCamera> cameras;
  std::vector<SimIo> inputs;
  std::vector<SimIo> outputs;
};

struct VideoSettings {
  int width = 640;
  int height = 480;
  double fps = 10.0;        // full-rate streams; 0 = unthrottled, as fast as the socket takes them
  double motion_fps = 1.0;  // "MotionOnly" streams
  bool render_jpeg = true;  // false: synthetic SOI..EOI bodies of jpeg_size bytes
  std::size_t jpeg_size = 32768;
  std::size_t native_size = 16384;
  int jpeg_quality = 70;
  bool fourcc_as_text = false;  // true: "Fourcc: JPEG" instead of the decimal code
  // Benchmarks: every channel's message is built once and re-sent with its
  // stamp patched in place, many messages per write; stream faults and the
  // per-frame filler pattern do not apply (the filler stays frame 0's).
  bool fast_stream = false;
  // Throttled streams start at spread offsets within their frame period
  // (channel number times the golden ratio, modulo one period), as
  // independent cameras do, rather than all in the same instant.
  bool spread_streams = false;
};

// How a reply body that carries XML is spoiled.
enum class XmlFault { kNone, kMalformed, kEmpty, kHuge };

// How the "Cid" header of stream messages is spoiled.
enum class CidFault { kNone, kOutOfRange, kNotNumeric };

// Which describing headers every stream message with a frame leaves out.
enum class OmittedHeaders { kNone, kSize, kFourcc, kBoth };

// Persistent misbehaviour, applied to every connection (existing and new).
struct FaultSettings {
  std::uint64_t reset_after_frames = 0;  // per connection; 0 = off
  std::uint64_t reset_after_ms = 0;      // per connection, from accept; 0 = off
  bool slow_writer = false;              // one byte every 10 ms
  int trickle_ms = 0;                    // one byte every N ms, overriding slow_writer; 0 = off
  std::set<std::string> never_answer;    // commands that get no reply
  std::set<std::string> never_takeover;  // pids whose takeover is not answered
  std::set<std::string> reset_on;        // commands answered by a connection reset
  std::set<std::string> close_on;        // commands answered by an orderly close
  std::map<std::string, int> delay_ms;   // reply delay per command
  std::map<std::string, XmlFault> xml;   // per command ("*" = every XML reply)
  CidFault cid = CidFault::kNone;
  OmittedHeaders omit_headers = OmittedHeaders::kNone;
  std::set<std::uint32_t> stalled;                // cids whose frames are held back
  std::map<std::uint32_t, std::string> status;    // cid -> "Status" word of its stream
  std::size_t garbage_before_each = 0;  // junk bytes before every message
  int ping_interval_ms = 0;             // 0 = no periodic ping
};

struct Scenario {
  std::string server_name = "Gateway";
  std::string kalmeno_version = "3.0";
  bool level2 = false;  // no start marker, no version announcement, Width/Height headers
  bool require_logon = true;
  int realtime_streams = 4;
  int input_toggle_ms = 0;  // 0 = inputs only change when scripted
  std::string dome_open_status = "DomeOpen";       // "" = "camera/ptz/open" gets no event
  std::string dome_close_status = "DomeReleased";  // "" = "camera/ptz/close" gets no event
  std::vector<SimUser> users;
  std::vector<SimProfile> profiles;
  VideoSettings video;
  FaultSettings faults;
};

// The built-in site: users "admin"/"admin" and "operator"/"pässwörd", profile
// "service" with four cameras (the second a PTZ dome), two inputs, two outputs.
Scenario DefaultScenario();

// The custom parameters the driver's capability query makes of a scenario
// (its first profile): video standard, Kalmeno version, then one entry per
// camera, input and output. What a host built from a query would pass.
std::vector<std::string> CustomParametersFor(const Scenario& scenario, int kalmenoVersion = 3);

// Reads a JSON scenario (see the simulator's documentation for the schema);
// keys that are missing keep the values of `base`. False with *error set when
// the text is not JSON or a key is unknown or has the wrong type.
bool ParseScenarioJson(const std::string& text, const Scenario& base, Scenario* out,
                       std::string* error);
bool LoadScenarioFile(const std::string& path, const Scenario& base, Scenario* out,
                      std::string* error);

bool ParseXmlFault(const std::string& word, XmlFault* out);
bool ParseCidFault(const std::string& word, CidFault* out);
bool ParseOmittedHeaders(const std::string& word, OmittedHeaders* out);  // none|size|fourcc|both

// XML bodies.
std::string XmlEscape(const std::string& text);
std::string BuildSessionXml(const Scenario& scenario, const SimUser& user);
std::string BuildProfileXml(const SimProfile& profile,
                            const std::map<std::string, bool>& io_states);
std::string BuildPtzPropertiesXml(const SimCamera& camera);

// Lookups; null when absent.
const SimUser* FindUser(const Scenario& scenario, const std::string& name);
const SimProfile* FindProfile(const Scenario& scenario, const std::string& name);
const SimCamera* FindCamera(const Scenario& scenario, const std::string& pid);
bool IsInputPid(const Scenario& scenario, const std::string& pid);
bool IsOutputPid(const Scenario& scenario, const std::string& pid);

}  // namespace sim
}  // namespace strevon
