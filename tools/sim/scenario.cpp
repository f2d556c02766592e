#include "scenario.h"

#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace strevon {
namespace sim {

namespace {

using nlohmann::json;

SimCamera MakeCamera(const std::string& pid, const std::string& name) {
  SimCamera c;
  c.pid = pid;
  c.name = name;
  return c;
}

SimIo MakeIo(const std::string& pid, const std::string& name) {
  SimIo io;
  io.pid = pid;
  io.name = name;
  return io;
}

// Scenario files are written by hand: a misspelt key should fail loudly
// instead of silently leaving a default in place.
void CheckKeys(const json& obj, std::initializer_list<const char*> allowed, const std::string& where) {
  if (!obj.is_object()) throw std::runtime_error(where + ": expected an object");
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    bool known = false;
    for (const char* k : allowed) {
      if (it.key() == k) known = true;
    }
    if (!known) throw std::runtime_error(where + ": unknown key \"" + it.key() + "\"");
  }
}

template <typename T>
void Read(const json& obj, const char* key, T* out) {
  auto it = obj.find(key);
  if (it != obj.end()) *out = it->get<T>();
}

std::set<std::string> ReadStringSet(const json& arr) {
  std::set<std::string> out;
  for (const auto& v : arr) out.insert(v.get<std::string>());
  return out;
}

SimIo ParseIo(const json& j, const std::string& where) {
  CheckKeys(j, {"pid", "name", "on"}, where);
  SimIo io;
  Read(j, "pid", &io.pid);
  Read(j, "name", &io.name);
  Read(j, "on", &io.on);
  return io;
}

SimCamera ParseCamera(const json& j, const std::string& where) {
  CheckKeys(j, {"pid", "name", "ptz", "state", "presets", "actions", "dome_timeout_s"}, where);
  SimCamera c;
  Read(j, "pid", &c.pid);
  Read(j, "name", &c.name);
  Read(j, "ptz", &c.ptz);
  Read(j, "state", &c.state);
  Read(j, "presets", &c.presets);
  Read(j, "actions", &c.actions);
  Read(j, "dome_timeout_s", &c.dome_timeout_s);
  return c;
}

void ParseFaults(const json& j, FaultSettings* f) {
  CheckKeys(j,
            {"reset_after_frames", "reset_after_ms", "slow_writer", "trickle_ms", "never_answer",
             "never_takeover", "reset_on", "close_on", "delay_ms", "xml", "cid", "omit_headers",
             "stalled", "status", "garbage_before_each", "ping_interval_ms"},
            "faults");
  Read(j, "reset_after_frames", &f->reset_after_frames);
  Read(j, "reset_after_ms", &f->reset_after_ms);
  Read(j, "slow_writer", &f->slow_writer);
  Read(j, "trickle_ms", &f->trickle_ms);
  if (f->trickle_ms < 0) throw std::runtime_error("faults.trickle_ms: must be 0 (off) or positive");
  if (j.contains("never_answer")) f->never_answer = ReadStringSet(j["never_answer"]);
  if (j.contains("never_takeover")) f->never_takeover = ReadStringSet(j["never_takeover"]);
  if (j.contains("reset_on")) f->reset_on = ReadStringSet(j["reset_on"]);
  if (j.contains("close_on")) f->close_on = ReadStringSet(j["close_on"]);
  if (j.contains("delay_ms")) f->delay_ms = j["delay_ms"].get<std::map<std::string, int>>();
  if (j.contains("xml")) {
    f->xml.clear();
    for (auto it = j["xml"].begin(); it != j["xml"].end(); ++it) {
      XmlFault xf;
      if (!ParseXmlFault(it.value().get<std::string>(), &xf)) {
        throw std::runtime_error("faults.xml: unknown fault \"" + it.value().get<std::string>() + "\"");
      }
      f->xml[it.key()] = xf;
    }
  }
  if (j.contains("cid") && !ParseCidFault(j["cid"].get<std::string>(), &f->cid)) {
    throw std::runtime_error("faults.cid: unknown value");
  }
  if (j.contains("omit_headers") &&
      !ParseOmittedHeaders(j["omit_headers"].get<std::string>(), &f->omit_headers)) {
    throw std::runtime_error("faults.omit_headers: unknown value");
  }
  if (j.contains("stalled")) {
    f->stalled.clear();
    for (const auto& v : j["stalled"]) f->stalled.insert(v.get<std::uint32_t>());
  }
  if (j.contains("status")) {
    f->status.clear();
    for (auto it = j["status"].begin(); it != j["status"].end(); ++it) {
      f->status[static_cast<std::uint32_t>(std::stoul(it.key()))] = it.value().get<std::string>();
    }
  }
  Read(j, "garbage_before_each", &f->garbage_before_each);
  Read(j, "ping_interval_ms", &f->ping_interval_ms);
}

void ParseVideo(const json& j, VideoSettings* v) {
  CheckKeys(j,
            {"width", "height", "fps", "motion_fps", "render_jpeg", "jpeg_size", "native_size",
             "jpeg_quality", "fourcc_as_text", "fast_stream", "spread_streams"},
            "video");
  Read(j, "width", &v->width);
  Read(j, "height", &v->height);
  Read(j, "fps", &v->fps);
  Read(j, "motion_fps", &v->motion_fps);
  Read(j, "render_jpeg", &v->render_jpeg);
  Read(j, "jpeg_size", &v->jpeg_size);
  Read(j, "native_size", &v->native_size);
  Read(j, "jpeg_quality", &v->jpeg_quality);
  Read(j, "fourcc_as_text", &v->fourcc_as_text);
  Read(j, "fast_stream", &v->fast_stream);
  Read(j, "spread_streams", &v->spread_streams);
  if (v->width <= 0 || v->height <= 0 || v->width > 4096 || v->height > 4096) {
    throw std::runtime_error("video: width and height must be 1..4096");
  }
  // A full rate of 0 streams unthrottled (benchmarks); motion-only streams always have a rate.
  if (v->fps < 0 || v->motion_fps <= 0) {
    throw std::runtime_error("video: fps must be 0 (unthrottled) or positive, motion_fps positive");
  }
  if (v->jpeg_size < 64 || v->jpeg_size > 0xFFFFF || v->native_size < 64 || v->native_size > 0xFFFFF) {
    throw std::runtime_error("video: body sizes must be 64..1048575");
  }
}

}  // namespace

std::vector<std::string> CustomParametersFor(const Scenario& scenario, int kalmenoVersion) {
  std::vector<std::string> params = {"0", std::to_string(kalmenoVersion)};
  const SimProfile& profile = scenario.profiles.at(0);
  for (std::size_t i = 0; i < profile.cameras.size(); ++i) {
    const SimCamera& cam = profile.cameras[i];
    const std::string caps = cam.ptz ? "Pan=1, Tilt=1, Zoom=1, Focus=1, Iris=1, Center=0, "
                                       "Unzoom=0, AreaZoom=0, Preset=255"
                                     : "Pan=0, Tilt=0, Zoom=0, Focus=0, Iris=0, Center=0, "
                                       "Unzoom=0, AreaZoom=0, Preset=0";
    params.push_back(std::to_string(i) + ";" + cam.pid + ";" + (cam.ptz ? "1" : "0") + ";" + caps);
  }
  for (std::size_t i = 0; i < profile.inputs.size(); ++i) {
    params.push_back(std::to_string(i) + ";" + profile.inputs[i].pid);
  }
  for (std::size_t i = 0; i < profile.outputs.size(); ++i) {
    params.push_back(std::to_string(i) + ";" + profile.outputs[i].pid);
  }
  return params;
}

Scenario DefaultScenario() {
  Scenario s;
  SimUser admin;
  admin.name = "admin";
  admin.password = "admin";
  admin.profiles = {"service"};
  SimUser op;
  op.name = "operator";
  op.password = "p\xC3\xA4ssw\xC3\xB6rd";  // "pässwörd"
  op.profiles = {"service"};
  s.users = {admin, op};

  SimProfile service;
  service.name = "service";
  service.cameras.push_back(MakeCamera("cam-1", "Entrance"));
  SimCamera dome = MakeCamera("cam-2", "Yard Dome");
  dome.ptz = true;
  dome.presets = {"Door", "Gate", "Yard"};
  dome.actions = "Pan,Tilt,Zoom,Focus,Iris";
  service.cameras.push_back(dome);
  service.cameras.push_back(MakeCamera("cam-3", "Parking"));
  service.cameras.push_back(MakeCamera("cam-4", "Loading Bay"));
  service.inputs = {MakeIo("in-1", "Door contact"), MakeIo("in-2", "Motion sensor")};
  service.outputs = {MakeIo("out-1", "Siren"), MakeIo("out-2", "Gate opener")};
  s.profiles = {service};
  return s;
}

bool ParseXmlFault(const std::string& word, XmlFault* out) {
  if (word == "none") *out = XmlFault::kNone;
  else if (word == "malformed") *out = XmlFault::kMalformed;
  else if (word == "empty") *out = XmlFault::kEmpty;
  else if (word == "huge") *out = XmlFault::kHuge;
  else return false;
  return true;
}

bool ParseCidFault(const std::string& word, CidFault* out) {
  if (word == "none") *out = CidFault::kNone;
  else if (word == "out-of-range") *out = CidFault::kOutOfRange;
  else if (word == "not-numeric") *out = CidFault::kNotNumeric;
  else return false;
  return true;
}

bool ParseOmittedHeaders(const std::string& word, OmittedHeaders* out) {
  if (word == "none") *out = OmittedHeaders::kNone;
  else if (word == "size") *out = OmittedHeaders::kSize;
  else if (word == "fourcc") *out = OmittedHeaders::kFourcc;
  else if (word == "both") *out = OmittedHeaders::kBoth;
  else return false;
  return true;
}

bool ParseScenarioJson(const std::string& text, const Scenario& base, Scenario* out,
                       std::string* error) {
  try {
    const json j = json::parse(text);
    CheckKeys(j,
              {"server_name", "kalmeno_version", "level2", "require_logon", "realtime_streams",
               "input_toggle_ms", "dome_open_status", "dome_close_status", "users", "profiles",
               "video", "faults"},
              "scenario");
    Scenario s = base;
    Read(j, "server_name", &s.server_name);
    Read(j, "kalmeno_version", &s.kalmeno_version);
    Read(j, "level2", &s.level2);
    Read(j, "require_logon", &s.require_logon);
    Read(j, "realtime_streams", &s.realtime_streams);
    Read(j, "input_toggle_ms", &s.input_toggle_ms);
    Read(j, "dome_open_status", &s.dome_open_status);
    Read(j, "dome_close_status", &s.dome_close_status);
    if (j.contains("users")) {
      s.users.clear();
      for (const auto& u : j["users"]) {
        CheckKeys(u, {"name", "password", "profiles", "authorized"}, "users[]");
        SimUser user;
        Read(u, "name", &user.name);
        Read(u, "password", &user.password);
        Read(u, "profiles", &user.profiles);
        Read(u, "authorized", &user.authorized);
        s.users.push_back(user);
      }
    }
    if (j.contains("profiles")) {
      s.profiles.clear();
      for (const auto& p : j["profiles"]) {
        CheckKeys(p, {"name", "cameras", "inputs", "outputs"}, "profiles[]");
        SimProfile profile;
        Read(p, "name", &profile.name);
        if (p.contains("cameras")) {
          for (const auto& c : p["cameras"]) profile.cameras.push_back(ParseCamera(c, "cameras[]"));
        }
        if (p.contains("inputs")) {
          for (const auto& c : p["inputs"]) profile.inputs.push_back(ParseIo(c, "inputs[]"));
        }
        if (p.contains("outputs")) {
          for (const auto& c : p["outputs"]) profile.outputs.push_back(ParseIo(c, "outputs[]"));
        }
        s.profiles.push_back(profile);
      }
    }
    if (j.contains("video")) ParseVideo(j["video"], &s.video);
    if (j.contains("faults")) ParseFaults(j["faults"], &s.faults);
    *out = s;
    return true;
  } catch (const std::exception& e) {
    if (error != nullptr) *error = e.what();
    return false;
  }
}

bool LoadScenarioFile(const std::string& path, const Scenario& base, Scenario* out,
                      std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = "cannot open " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseScenarioJson(text.str(), base, out, error);
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string BuildSessionXml(const Scenario& scenario, const SimUser& user) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Session user=\"" +
                    XmlEscape(user.name) + "\">\r\n  <RealtimeStreams max=\"" +
                    std::to_string(scenario.realtime_streams) + "\"/>\r\n  <Profiles>\r\n";
  for (const auto& name : user.profiles) xml += "    <Name>" + XmlEscape(name) + "</Name>\r\n";
  xml += "  </Profiles>\r\n</Session>\r\n";
  return xml;
}

std::string BuildProfileXml(const SimProfile& profile, const std::map<std::string, bool>& io_states) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Profile name=\"" +
                    XmlEscape(profile.name) + "\">\r\n  <Cameras>\r\n";
  for (const auto& c : profile.cameras) {
    xml += std::string("    <") + (c.ptz ? "PtzCamera" : "Camera") + " pid=\"" + XmlEscape(c.pid) +
           "\" name=\"" + XmlEscape(c.name) + "\" state=\"" + XmlEscape(c.state) + "\"";
    if (c.ptz) xml += " actions=\"" + XmlEscape(c.actions) + "\"";
    xml += "/>\r\n";
  }
  xml += "  </Cameras>\r\n";
  auto io_list = [&](const char* group, const char* element, const std::vector<SimIo>& list) {
    xml += std::string("  <") + group + ">\r\n";
    for (const auto& io : list) {
      auto it = io_states.find(io.pid);
      const bool on = it != io_states.end() ? it->second : io.on;
      xml += std::string("    <") + element + " pid=\"" + XmlEscape(io.pid) + "\" name=\"" +
             XmlEscape(io.name) + "\" state=\"" + (on ? "On" : "Off") + "\"/>\r\n";
    }
    xml += std::string("  </") + group + ">\r\n";
  };
  io_list("DigitalInputs", "DigitalInput", profile.inputs);
  io_list("DigitalOutputs", "DigitalOutput", profile.outputs);
  xml += "</Profile>\r\n";
  return xml;
}

std::string BuildPtzPropertiesXml(const SimCamera& camera) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<PtzControl pid=\"" +
                    XmlEscape(camera.pid) + "\" actions=\"" + XmlEscape(camera.actions) +
                    "\" timeout=\"" + std::to_string(camera.dome_timeout_s) + "\">\r\n  <Presets>\r\n";
  for (const auto& p : camera.presets) xml += "    <Preset>" + XmlEscape(p) + "</Preset>\r\n";
  xml += "  </Presets>\r\n</PtzControl>\r\n";
  return xml;
}

const SimUser* FindUser(const Scenario& scenario, const std::string& name) {
  for (const auto& u : scenario.users) {
    if (u.name == name) return &u;
  }
  return nullptr;
}

const SimProfile* FindProfile(const Scenario& scenario, const std::string& name) {
  for (const auto& p : scenario.profiles) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

const SimCamera* FindCamera(const Scenario& scenario, const std::string& pid) {
  for (const auto& p : scenario.profiles) {
    for (const auto& c : p.cameras) {
      if (c.pid == pid) return &c;
    }
  }
  return nullptr;
}

bool IsInputPid(const Scenario& scenario, const std::string& pid) {
  for (const auto& p : scenario.profiles) {
    for (const auto& io : p.inputs) {
      if (io.pid == pid) return true;
    }
  }
  return false;
}

bool IsOutputPid(const Scenario& scenario, const std::string& pid) {
  for (const auto& p : scenario.profiles) {
    for (const auto& io : p.outputs) {
      if (io.pid == pid) return true;
    }
  }
  return false;
}

}  // namespace sim
}  // namespace strevon
