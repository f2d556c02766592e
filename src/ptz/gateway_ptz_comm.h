// CGatewayPTZComm: one PTZ channel's command channel to the Gateway. Each
// queued command goes out as a "camera/ptz/..." request with the camera's
// "pid"; the Gateway's hold of the dome for this driver is kept alive by
// sending "camera/ptz/open" before the first command and again before the
// first command after the dome time-out has passed without activity. It
// listens for "camera/ptz/event" (dome status: an open or OK status counts
// as activity, everything else is only logged) and "camera/ptz/properties"
// (preset names, dome time-out, preset count). Presets are recalled by name;
// saving and deleting presets are not possible through the Gateway.
//
// Ownership: created, opened, closed and destroyed by the channel's control
// object. Uses the driver's Gateway client (not owned), with which it is
// registered as a receiver from construction to destruction. Destruction
// sends "camera/ptz/close", leaves the client and stops the command thread
// before any member goes.
//
// Threads: HandleWorkItem on the command thread; ProcessServerMessage on the
// client's receiver thread; LoadPresets and RecallPreset on host threads.
// Last activity is atomic (the command thread, the receiver thread and
// RecallPreset all touch it). The preset names, the dome time-out and the
// preset count are replaced by the receiver thread while host threads read
// them: they live under the channel's state lock. No lock is held while
// sending or logging.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "gateway/gw_client.h"
#include "gateway/message_receiver.h"
#include "gateway/server_message.h"
#include "ptz/base_ptz_comm.h"

namespace quorvel {

class CGatewayPTZComm : public CBasePTZComm, public IMessageReceiver {
 public:
  static constexpr std::uint32_t kDefaultDomeTimeoutS = 60;

  CGatewayPTZComm(IDriver* driver, std::uint16_t channel);
  ~CGatewayPTZComm() override;

  // False for a camera that is not a PTZ camera, else the base's test.
  bool HasPtz(IIPParams* params) override;

  // IPrepositionComm. Save and delete are not supported: false, no traffic.
  bool SavePreset(std::uint32_t index, const std::string& name) override;
  // Sends "camera/ptz/preset" with the name at once, on the caller's
  // thread (after the keep-alive); the result of the client's Send.
  bool RecallPreset(std::uint32_t position, const std::string& name, std::uint32_t speed) override;
  bool DeletePreset(std::uint32_t index, const std::string& name) override;
  // Sends "camera/ptz/takeover" (whose answer is a properties message) and
  // appends the names it already has, at their positions; never waits.
  bool LoadPresets(std::vector<PresetEntry>& list) override;
  bool CanSavePresets() const override { return false; }
  bool CanDeletePresets() const override { return false; }

  // IMessageReceiver, on the client's receiver thread.
  void ProcessServerMessage(ServerMessage& message) override;

  std::uint32_t GetDomeTimeoutS();

 protected:
  void HandleWorkItem(CWorkItem* item) override;

 private:
  enum class DomeMode { kOpen, kTakeover, kClose };

  void SendDomeCommand(DomeMode mode);
  // Both send nothing when the camera's pid is empty.
  void SendPtzCommand(const std::string& command);
  void SendPtzSpeedCommand(std::uint32_t hostSpeed, const std::string& command);
  void SendAreaZoom(const CWorkItem& item);
  void SendCenter(const CWorkItem& item);
  bool Send(ClientMessage* message);
  void ParsePropertiesInfo(const ServerMessage& message);

  CGWClient* const m_client;
  // File time (steady time line) of the last dome activity; 0 = never.
  std::atomic<std::uint64_t> m_lastActivity{0};

  std::uint32_t m_domeTimeoutS GUARDED_BY(StateLock()) = kDefaultDomeTimeoutS;
  std::vector<std::string> m_presetNames GUARDED_BY(StateLock());
};

// The Gateway's speed for a host speed: trunc((s - 1) * 2 / 15), never
// below 0: host speeds 0 to 8 give 0, 9 to 15 give 1, 16 gives 2.
std::uint32_t GatewayPtzSpeed(std::uint32_t hostSpeed);

}  // namespace quorvel
