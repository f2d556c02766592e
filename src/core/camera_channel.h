// ICameraChannel: one running video channel as the video capture object
// sees it, and the parameter block it is started with. The video capture
// object owns its channels; it creates them through the driver's
// ICustomCreator and calls them from host threads. Stopping is two steps so
// that the owner never waits for a delivery while holding a lock that the
// host's callback in that delivery may need: Stop ends the registration (no
// delivery starts after it), WaitForDeliveries then waits for one already
// running on another thread; only after both may the channel be destroyed.
#pragma once

#include <cstdint>

#include "strevon.h"

namespace quorvel {

class ServerMessage;

// Six words handed to Start and ChangeChannelParameters.
struct ChannelParameters {
  std::uint32_t firstStreamValue = 0;
  std::uint32_t secondStreamValue = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t one = 1;
  std::uint32_t zero = 0;
};

class ICameraChannel {
 public:
  virtual ~ICameraChannel() = default;                                        // 0
  virtual void SetChannelSetup(ipcapture::IChannelSetup* setup) = 0;          // 1
  virtual bool Start(const ChannelParameters* parameters) = 0;                // 2
  virtual void Stop() = 0;                                                    // 3
  virtual bool ChangeChannelParameters(const ChannelParameters* parameters) = 0;  // 4
  virtual bool QueryA() { return false; }                                     // 5
  virtual bool QueryB() { return false; }                                     // 6
  virtual int GetChannelStatus() = 0;                                         // 7
  virtual void SetChannelStatus(int status) = 0;                              // 8
  virtual int GetRefreshStatus() = 0;                                         // 9
  virtual void OnFrame(ServerMessage& message) = 0;                           // 10
  // Returns once no delivery into the channel runs on another thread; one
  // on the calling thread (a host stopping the channel from its own
  // callback) is not waited for.
  virtual void WaitForDeliveries() {}                                         // 11
};

// The optional second per-channel object (never created by this driver).
class ISecondaryChannel {
 public:
  virtual ~ISecondaryChannel() = default;                                     // 0
  virtual bool Start() = 0;                                                   // 1
  virtual void Stop() = 0;                                                    // 2
};

}  // namespace quorvel
