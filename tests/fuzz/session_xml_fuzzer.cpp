// The XML replies of the session (log-on, profile, PTZ properties) handed
// as a ServerMessage to every receiver that reads such replies: CLogOn,
// CProfileReader and CGatewayPTZComm. Receivers pick their messages by
// command themselves, so every one sees every input.
//
// Input: a flag byte, a header block up to the first NUL, then the body.
// Bits 0-1 choose the "Response" line put in front of the header block
// (authenticate, logon, profile, PTZ properties); bit 3 leaves the block
// as given. Bit 2 has the profile reader ask for its profile first
// (refused by a stopped client), so it looks for the default settings'
// profile "service"; without it the name is empty. The reader first takes
// in a fixed profile with a PTZ camera "cam-1" of that name, so that a
// properties reply has a camera to update; the PTZ channel serves "cam-1".
//
// Invariants: log-on status and key are the reply's headers; camera records
// keep non-empty pids and increasing ids, PTZ capabilities are untouched or
// the full set with 255 presets; I/O records have pids; the PTZ channel's
// preset list and count agree; nothing crashes or leaks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/camera_record.h"
#include "fuzz_support.h"
#include "gateway/gw_client.h"
#include "gateway/server_message.h"
#include "ptz/gateway_ptz_comm.h"
#include "session/log_on.h"
#include "session/profile_reader.h"
#include "support/fake_driver.h"

namespace {

using quorvel::CameraRecord;
using quorvel::ServerMessage;
using quorvel::fuzzing::Bytes;

const char* const kCommands[] = {"user/authenticate", "user/logon", "user/profile",
                                 "camera/ptz/properties"};

// A client that was stopped once: every request is refused at once, so
// ReadProfile sets its profile name and returns without waiting.
quorvel::CGWClient& StoppedClient() {
  static quorvel::CGWClient* client = [] {
    quorvel::fuzzing::DriverHome();  // no settings file: profile "service"
    auto* c = new quorvel::CGWClient();
    c->Disconnect();
    return c;
  }();
  return *client;
}

ServerMessage Message(const std::string& headers, const std::string& body) {
  ServerMessage message;
  message.SetHeaderData(Bytes(headers));
  message.SetBody(Bytes(body));
  message.Parse();
  return message;
}

bool IsUntouched(const quorvel::CPtzCapabilities& caps) {
  return !caps.pan && !caps.tilt && !caps.zoom && !caps.focus && !caps.iris && !caps.areaZoom &&
         !caps.center && !caps.unzoom && caps.presetCount == 0;
}

void CheckProfile(const quorvel::CProfileReader& reader) {
  const std::vector<CameraRecord> cameras = reader.GetCameras();
  FUZZ_CHECK(cameras.size() >= 2);  // the known profile's two cameras come first
  for (std::size_t i = 0; i < cameras.size(); ++i) {
    const CameraRecord& camera = cameras[i];
    FUZZ_CHECK(!camera.pid.empty());
    // Ids are positions within one profile reply: increasing inside each.
    if (i > 2) FUZZ_CHECK(camera.id > cameras[i - 1].id);
    const quorvel::CPtzCapabilities& caps = camera.ptzCapabilities;
    if (!IsUntouched(caps)) {
      FUZZ_CHECK(caps.pan && caps.tilt && caps.presetCount == 255);
      FUZZ_CHECK(!caps.areaZoom || caps.zoom);
      FUZZ_CHECK(!caps.unzoom || caps.zoom);
    }
  }
  for (const auto& record : reader.GetInputs()) FUZZ_CHECK(!record.pid.empty());
  for (const auto& record : reader.GetOutputs()) FUZZ_CHECK(!record.pid.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvel::CGWClient& client = StoppedClient();
  quorvel::fuzzing::InputReader input(data, size);
  const std::uint8_t flags = input.Byte();
  std::string headers = input.Field();
  if ((flags & 8) == 0) headers = std::string("Response: ") + kCommands[flags & 3] + "\r\n" + headers;
  ServerMessage message = Message(headers, input.Rest());

  quorvel::CLogOn logOn(nullptr);
  logOn.ProcessServerMessage(message);
  if (message.IsCommand("user/authenticate")) {
    FUZZ_CHECK(logOn.GetDigestKey() == message.GetHeader("DigestKey"));
  } else if (message.IsCommand("user/logon")) {
    FUZZ_CHECK(logOn.GetStatus() == message.GetHeader("Status"));
  } else {
    FUZZ_CHECK(logOn.GetStatus().empty() && logOn.GetDigestKey().empty());
  }
  for (const std::string& name : logOn.GetProfileNames()) (void)name.size();

  quorvel::CProfileReader reader(&client);
  if ((flags & 4) != 0) FUZZ_CHECK(!reader.ReadProfile());
  FUZZ_CHECK(reader.GetProfileName() == ((flags & 4) != 0 ? "service" : ""));
  ServerMessage known = Message("Response: user/profile\r\n",
                                "<Profile name=\"" + reader.GetProfileName() + "\"><Cameras>"
                                "<PtzCamera state=\"OK\" pid=\"cam-1\"/>"
                                "<Camera state=\"OK\" pid=\"cam-2\"/></Cameras></Profile>");
  reader.ProcessServerMessage(known);
  FUZZ_CHECK(reader.GetCameras().size() == 2);
  reader.ProcessServerMessage(message);
  CheckProfile(reader);

  // The PTZ channel has a driver with the PTZ camera and no Gateway client.
  quorvel::test_support::FakeDriver driver;
  driver.cameras.resize(1);
  driver.cameras[0].pid = "cam-1";
  driver.cameras[0].ptz = true;
  driver.cameras[0].ptzCapabilities.pan = driver.cameras[0].ptzCapabilities.tilt = true;
  quorvel::CGatewayPTZComm comm(&driver, 0);
  comm.ProcessServerMessage(message);
  std::vector<quorvel::PresetEntry> presets;
  FUZZ_CHECK(comm.LoadPresets(presets));
  for (std::size_t i = 0; i < presets.size(); ++i) FUZZ_CHECK(presets[i].index == i);
  quorvel::PtzCapabilityRecord record{};
  comm.GetCapabilities(&record);
  // Untouched (the camera's own count, 0 here) or the number of names.
  FUZZ_CHECK(record.maxPresets == 0 || record.maxPresets == presets.size());
  FUZZ_CHECK(comm.GetDomeTimeoutS() > 0);
  return 0;
}
