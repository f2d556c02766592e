// A driver opened with fuzzed custom parameters (which a capability query
// wrote from Gateway data and the host hands back at Open) builds its
// camera, input and output lists. The device is port 1 on the loopback
// address, where nothing listens; Close abandons the connection attempt.
//
// Input: three bytes give the channel (0-15), input (0-7) and output (0-7)
// counts; the rest, split at line feeds, are custom parameters 1, 2, ...
// (parameter 2, the Kalmeno version, decides whether the worker starts).
//
// Invariants: every record has a non-empty pid without ";"; no list is
// longer than its count; capability flags survive a round trip through the
// capability string; Open and Close never crash, leak or hang.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "core/camera_record.h"
#include "driver/strevon_driver.h"
#include "fuzz_support.h"

namespace {

namespace ipc = quorvel::ipcapture;

class NullSink : public IDebugInfoSink {
 public:
  void OnDebugInfo(CDebugInfoIf* record) override {
    if (record != nullptr && record->GetText() != nullptr) FUZZ_CHECK(record->GetLevel() <= 100);
  }
};

bool GoodPid(const std::string& pid) { return !pid.empty() && pid.find(';') == std::string::npos; }

// The host's device description in one object: custom parameters are
// 1-based, null past the last one.
class FuzzDeviceSetup : public ipc::IDeviceSetup, ipc::IDeviceParams, ipc::IConnectionParams {
 public:
  ipc::IDeviceParams* GetDeviceParams() override { return this; }
  ipc::IConnectionParams* GetConnectionParams() override { return this; }
  const char* GetCustomParameter(int index) override {
    if (index < 1 || static_cast<std::size_t>(index) > custom.size()) return nullptr;
    return custom[static_cast<std::size_t>(index) - 1].c_str();
  }
  const char* GetModel() override { return "Gateway"; }
  std::uint32_t GetChannelCount() override { return channels; }
  std::uint32_t GetInputCount() override { return inputs; }
  std::uint32_t GetOutputCount() override { return outputs; }
  const char* GetAddress() override { return "127.0.0.1"; }
  std::uint16_t GetPort() override { return 1; }
  std::uint32_t GetConnectionValue() override { return 0; }
  const char* GetUserName() override { return "user"; }
  const char* GetPassword() override { return "secret"; }

  std::uint32_t channels = 0, inputs = 0, outputs = 0;
  std::vector<std::string> custom;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvel::fuzzing::DriverHome();
  quorvel::fuzzing::InputReader input(data, size);
  FuzzDeviceSetup setup;
  setup.channels = input.Byte() % 16;
  setup.inputs = input.Byte() % 8;
  setup.outputs = input.Byte() % 8;
  std::istringstream rest(input.Rest());
  for (std::string line; setup.custom.size() < 64 && std::getline(rest, line);) {
    setup.custom.push_back(line);
  }

  NullSink sink;
  quorvel::CStrevonDriver driver;
  driver.Open(&sink, nullptr, &setup);

  const std::vector<quorvel::CameraRecord>& cameras = driver.GetCameraList();
  FUZZ_CHECK(cameras.size() <= setup.channels);
  for (const quorvel::CameraRecord& camera : cameras) {
    FUZZ_CHECK(GoodPid(camera.pid));
    quorvel::CPtzCapabilities reread;
    reread.FromString(camera.ptzCapabilities.ToString());
    FUZZ_CHECK(reread.presetCount == camera.ptzCapabilities.presetCount);
    FUZZ_CHECK(reread.pan == camera.ptzCapabilities.pan);
  }
  FUZZ_CHECK(driver.GetInputList().size() <= setup.inputs);
  FUZZ_CHECK(driver.GetOutputList().size() <= setup.outputs);
  for (const quorvel::IORecord& record : driver.GetInputList()) FUZZ_CHECK(GoodPid(record.pid));
  for (const quorvel::IORecord& record : driver.GetOutputList()) FUZZ_CHECK(GoodPid(record.pid));
  driver.Close();
  return 0;
}
