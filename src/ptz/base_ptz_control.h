// CBasePTZControl: one PTZ channel as the host drives it (IIPPTZApiEx, with
// IIPParams as its second interface). It checks and forwards the host's
// calls to the channel's command channel, keeps the channel's preset list,
// remembers which motions it started so that one StopMotion ends them all,
// and answers with the host's result codes (1, -3, -18, -19, -23, -26).
//
// Ownership: created and owned by the PTZ handler (CBasePTZHandler), which
// calls OpenComm once right after creation and destroys the control at
// teardown. Owns its command channel (made by the subclass's CreateComm)
// and its preset list; the IDriver is not owned. Teardown closes the
// command channel (its thread stops), destroys it, then the list goes. A
// command thread that overstays its stop (StopComm false) must not lose its
// channel: the owner then keeps the control until the thread has ended,
// which a keep-alive (SetKeepAlive) lets the thread itself decide.
//
// Threads: host threads. The control takes no lock of its own: the command
// queue and the preset list's lock serialise what is shared; the motion and
// parameter flags are atomic. The command channel is created before the
// control is handed out and destroyed only at teardown, after the host's
// last call.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "core/idriver.h"
#include "ptz/base_ptz_comm.h"
#include "ptz/preposition_list.h"
#include "strevon.h"

namespace quorvel {

class CBasePTZControl : public IIPPTZApiEx, public IIPParams {
 public:
  CBasePTZControl(IDriver* driver, std::uint32_t channel);
  // Releases the command channel.
  virtual ~CBasePTZControl();
  STREVON_IMPLEMENT_SLOT0

  CBasePTZControl(const CBasePTZControl&) = delete;
  CBasePTZControl& operator=(const CBasePTZControl&) = delete;

  // IIPPTZApi. Slots 2 to 13 answer -18 while there is no command channel.
  int Initialize() override;
  int Move(std::uint32_t direction, std::uint32_t speed) override;
  int StopMotion() override;
  int CenterAt(std::uint32_t x, std::uint32_t y, std::uint32_t value) override;
  int ZoomIn(std::uint32_t speed) override;
  int ZoomOut(std::uint32_t speed) override;
  int UnzoomView(std::uint32_t value) override;
  int ZoomToArea(std::uint32_t x, std::uint32_t y, std::uint32_t z, std::uint32_t value) override;
  int FocusNear(std::uint32_t speed) override;
  int FocusFar(std::uint32_t speed) override;
  int IrisOpen(std::uint32_t speed) override;
  int IrisClose(std::uint32_t speed) override;
  int GetCapabilities(PtzCapabilityRecord* record) override;
  int RefreshPresets() override;
  int GetPresetName(std::uint32_t position, char* buffer, std::uint32_t bufferSize) override;
  int GoToPreset(std::uint32_t speed, const char* name) override;
  int AddPreset(const char* name) override;
  int RemovePreset(const char* name) override;
  int GetCurrentPresetName(char* buffer, std::uint32_t bufferSize) override;
  // IIPPTZApiEx
  int QueryFeature(std::uint32_t value) override;

  // IIPParams: the two flags are only kept for the host.
  std::uint32_t GetChannel() override { return m_channel; }
  unsigned char GetParamFlag1() override { return m_paramFlag1.load(); }
  unsigned char SetParamFlag1(unsigned char value) override;
  unsigned char GetParamFlag2() override { return m_paramFlag2.load(); }
  unsigned char SetParamFlag2(unsigned char value) override;

  // Closes and destroys the command channel, if any.
  virtual void ReleaseComm();
  // Stops the command thread within timeoutMs, keeping the channel; false
  // while the thread still runs.
  bool StopComm(std::uint32_t timeoutMs);
  // Before OpenComm: the command thread holds owner while it runs.
  void SetKeepAlive(std::weak_ptr<void> owner) { m_keepAlive = std::move(owner); }
  // A new command channel for this control's driver and channel, or null.
  virtual CBasePTZComm* CreateComm() = 0;
  // Creates the command channel and opens it (its thread starts); false
  // when none was created or it did not open.
  virtual bool OpenComm();

 protected:
  IDriver* Driver() const { return m_driver; }

 private:
  // Clears the current preset after a command that moved the camera.
  int AfterMotion(int result, std::atomic<bool>* flag);

  IDriver* const m_driver;
  const std::uint32_t m_channel;
  std::unique_ptr<CBasePTZComm> m_comm;
  std::weak_ptr<void> m_keepAlive;
  CPrepositionList m_presets;
  std::atomic<unsigned char> m_paramFlag1{0};
  std::atomic<unsigned char> m_paramFlag2{0};
  // Motions started and not yet stopped.
  std::atomic<bool> m_zooming{false};
  std::atomic<bool> m_focusing{false};
  std::atomic<bool> m_irisChanging{false};
  std::atomic<bool> m_moving{false};
};

}  // namespace quorvel
