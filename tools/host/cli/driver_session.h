// DriverSession: one open driver object for one Gateway, as a recording
// server holds it: the host objects the driver calls (debug sink, frame
// allocator, device setup) and the driver created with CreateIPCaptureEx3
// and opened with the device's stored custom parameters. Closes and deletes
// the driver on destruction, so every frame, PTZ and I/O object it handed
// out must be gone by then (the commands own those on the same thread).
// All methods run on the main thread; the host objects are called on the
// driver's threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "debug_sink.h"
#include "device_description.h"
#include "device_setup.h"
#include "driver_library.h"
#include "frame_allocator.h"
#include "strevon.h"

namespace strevon {
namespace hosttool {

// The driver writes PTZ and I/O commands on its own sender thread and drops
// whatever is still queued when it closes; a command waits this long after
// its last request before closing, so that the request reaches the Gateway.
constexpr std::chrono::milliseconds kCommandSettle{500};

class DriverSession {
 public:
  // connectionValue 1 asks the Gateway for JPEG frames.
  DriverSession(const host::DriverLibrary& library, DeviceDescription device,
                std::uint32_t connectionValue = 1);
  ~DriverSession();
  DriverSession(const DriverSession&) = delete;
  DriverSession& operator=(const DriverSession&) = delete;

  // Checks that the Gateway answers on TCP (unless probeFirst is false:
  // the driver then keeps trying by itself), then creates and opens the
  // driver. False with an error a user can act on.
  bool Open(std::string* error, bool probeFirst = true);
  // The debug sink handed to Open instead of the session's own (which
  // keeps every line); set before Open, must outlive the session.
  void UseSink(IDebugInfoSink* sink) { m_externalSink = sink; }
  void Close();

  const DeviceDescription& Device() const { return m_device; }
  std::uint32_t ChannelCount() const { return m_device.ChannelCount(); }
  // False with "channel N is out of range ..." when the device has no such
  // channel.
  bool CheckChannel(std::uint32_t channel, std::string* error) const;

  // The driver's interfaces; null with a reason when the driver lacks them.
  quorvel::ipcapture::IIPVideoCaptureEx* Video(std::string* error);
  quorvel::IIPPTZDriverEx* Ptz(std::string* error);
  quorvel::ICaptureIOApi* Io(std::string* error);

  // Why a device that opened never came online: the Gateway unreachable,
  // or the driver's own answer to a log-on with the stored user.
  std::string Diagnose() const;

  host::DebugSink& Sink() { return m_sink; }
  const host::FrameAllocator& Allocator() const { return m_allocator; }

 private:
  const host::DriverLibrary& m_library;
  const DeviceDescription m_device;
  const std::uint32_t m_connectionValue;
  host::DebugSink m_sink;
  IDebugInfoSink* m_externalSink = nullptr;
  host::FrameAllocator m_allocator;
  std::unique_ptr<host::DeviceSetup> m_setup;
  quorvel::ipcapture::IIPCaptureDriverEx3* m_driver = nullptr;
};

}  // namespace hosttool
}  // namespace strevon
