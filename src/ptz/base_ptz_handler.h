// CBasePTZHandler: the driver's PTZ driver object. Hands out one control
// object per channel, creating it and opening its command channel on first
// request; a channel at or above the channel count, or one whose command
// thread cannot start, gets null (the next request tries again).
//
// Ownership: created by the capture driver at Open and destroyed at Close
// (before the driver's Gateway client goes); owns every control object it
// created. The IDriver is not owned. When StopThreads reports a command
// thread still running, the owner keeps the handler until that thread has
// ended (the keep-alive lets the thread hold the owner).
//
// Threads: host threads. The control map is guarded by m_lock, held while a
// control is created so that two callers never get two controls for one
// channel. ReleaseControls destroys the controls outside the lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include "core/idriver.h"
#include "infra/recursive_lock.h"
#include "ptz/base_ptz_control.h"
#include "ptz/ptz_driver_if.h"

namespace quorvel {

class CBasePTZHandler : public CIPPTZDriverIf {
 public:
  CBasePTZHandler(IDriver* driver, std::uint32_t channelCount);
  // Releases every control.
  ~CBasePTZHandler() override;

  CBasePTZHandler(const CBasePTZHandler&) = delete;
  CBasePTZHandler& operator=(const CBasePTZHandler&) = delete;

  IIPPTZApiEx* GetPTZApiEx(std::uint32_t channel) override;
  // A new control for channel, or null.
  virtual CBasePTZControl* CreateControl(std::uint32_t channel) = 0;
  // Destroys every control (their command threads stop) and empties the map.
  virtual void ReleaseControls();
  // Stops every command thread, all within timeoutMs together; false while
  // any of them still runs.
  bool StopThreads(std::uint32_t timeoutMs);
  // Before the first GetPTZApiEx: every command thread holds owner while it
  // runs.
  void SetKeepAlive(std::weak_ptr<void> owner) { m_keepAlive = std::move(owner); }

  std::uint32_t GetChannelCount() const { return m_channelCount; }

 protected:
  IDriver* Driver() const { return m_driver; }

 private:
  IDriver* const m_driver;
  const std::uint32_t m_channelCount;
  // Set before any control exists.
  std::weak_ptr<void> m_keepAlive;

  CRecursiveLock m_lock;
  // Owns the controls.
  std::map<std::uint32_t, CBasePTZControl*> m_controls GUARDED_BY(m_lock);
};

}  // namespace quorvel
