// IDriver: the capture driver as its own components see it. Every component
// (video manager and channels, PTZ, digital I/O) receives an IDriver* at
// construction and never owns it. The lists, counts and custom parameters
// are written only during Open, before any driver thread starts, and only
// read afterwards, so any thread may call these accessors.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/camera_record.h"
#include "infra/debug_interfaces.h"
#include "infra/device_info.h"
#include "strevon.h"

namespace quorvel {

class CGWClient;

class IDriver : public IDebugMessage {
 public:
  ~IDriver() override = default;                                                  // 0
  // 1: DebugMessage (IDebugMessage)
  virtual std::string GetDriverName() = 0;                                        // 2
  virtual DEVICE_INFO* GetDeviceInfo() = 0;                                       // 3
  virtual std::pair<std::uint32_t, std::uint32_t> GetIOCounts() = 0;              // 4
  virtual ipcapture::IFrameAllocator* GetFrameAllocator() = 0;                    // 5
  virtual std::uint32_t GetVideoStandard() = 0;                                   // 6
  virtual std::uint32_t GetConnectionValue() = 0;                                 // 7
  virtual std::uint32_t GetChannelCount() = 0;                                    // 8
  virtual const std::vector<CameraRecord>& GetCameraList() = 0;                   // 9
  virtual const std::vector<IORecord>& GetInputList() = 0;                        // 10
  virtual const std::vector<IORecord>& GetOutputList() = 0;                       // 11
  virtual CGWClient* GetClient() = 0;                                             // 12
  virtual int GetKalmenoVersion() = 0;                                            // 13
  virtual std::string GetCustomParameter(std::uint32_t index) = 0;                // 14
  virtual int GetCustomParameterInt(std::uint32_t index) = 0;                     // 15
  // Cheap check for hot paths: would a line at this level reach the host
  // sink or the log file? Lets a caller skip formatting nobody reads.
  virtual bool WouldLog(int level) = 0;                                           // 16
};

// The most channels, inputs or outputs one device may have. Bounds what a
// Gateway's stream grant or a host's device setup can make the driver
// allocate and walk.
constexpr std::uint32_t kMaxChannelCount = 1024;
constexpr std::uint32_t kMaxIOCount = 1024;

// GetCustomParameterInt's answer for a missing or non-numeric parameter.
constexpr int kMissingCustomParameter = static_cast<int>(0x80000000u);

}  // namespace quorvel
