// CGatewayIO: the device's digital inputs and outputs as the host sees them.
//
// Input changes arrive as "IOState" events from the event receiver; the
// object keeps the last state of every input (2 on, 1 off, 0 any other
// status) and reports all of them to the host every 2000 ms from its
// "Gateway IO" tick thread, and each change at once. Outputs are switched
// with a "switch/toggle" request for the output's pid: the Gateway toggles,
// the requested state is not sent.
//
// Created by the capture driver at Open when the device has inputs or
// outputs, and destroyed at Close; the driver's event receiver and Gateway
// client, the IDriver and the host's callback are not owned.
//
// Never waits for host code. What the Gateway's receiver thread and the
// tick thread use (input states, host callback, the IDriver) lives in a
// shared inner object (CShared), which the event receiver holds while it
// delivers an event into it and the tick thread holds while it runs; this
// object holds the third share and lets go of it at destruction. Whichever
// ends last frees it. The inner object also holds a share of the driver
// (driverKeepAlive, when given), so that a late delivery or tick still
// finds the driver's log and lists; the driver breaks that circle by
// destroying this object at Close.
// StopIO and the destructor close a gate before anything else: once they
// have returned, no new call into the host's callback starts (a call that
// had already passed the gate may still finish). They do not wait for an
// event delivery at all, and wait up to 5000 ms for the tick thread only
// while it is not inside the host's callback; a tick thread left running
// ends after that call without calling the host again, and until it has
// ended StartIO fails.
//
// Threads: the host calls the ICaptureIOApi slots on its own threads, the
// driver's worker calls Resubscribe; events are delivered on the Gateway
// client's receiver thread and the ticks run on the "Gateway IO" thread.
// The host callback is called from both of these, so it must be
// thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/idriver.h"
#include "infra/plain_lock.h"
#include "session/event_receiver.h"
#include "strevon.h"

namespace quorvel {

class CGatewayIO : public ICaptureIOApi {
 public:
  // Input states as the host receives them.
  static constexpr std::uint32_t kStateOther = 0;
  static constexpr std::uint32_t kStateOff = 1;
  static constexpr std::uint32_t kStateOn = 2;

  // driverKeepAlive: a share of the object behind driver, held until the
  // last event delivery or tick is over; empty keeps nothing alive.
  CGatewayIO(IDriver* driver, CEventReceiver* eventReceiver, CGWClient* client,
             std::weak_ptr<void> driverKeepAlive = std::weak_ptr<void>());
  // Ends the host's use as StopIO does, whether or not the host called it.
  virtual ~CGatewayIO();
  STREVON_IMPLEMENT_SLOT0

  CGatewayIO(const CGatewayIO&) = delete;
  CGatewayIO& operator=(const CGatewayIO&) = delete;

  // ICaptureIOApi.
  // A null callback keeps the current one; true when one is set.
  bool SetIOCallback(ICaptureIOCallback* callback) override;
  // Every configured input starts as off; the first report comes one tick
  // interval later. Also registers for "IOState" events again, which a
  // reconnection dropped.
  bool StartIO() override;
  // Always false, also when the thread stopped cleanly.
  bool StopIO() override;
  // Called by the driver's worker thread after a new event subscription:
  // registers for "IOState" events again when the host has started I/O and
  // not stopped it since. Does nothing otherwise.
  void Resubscribe();
  // The counts the host gave at Open, not the lengths of the lists.
  std::uint32_t GetInputCount() override;
  std::uint32_t GetOutputCount() override;
  // outputIndex is the position in the driver's output list; state is only
  // logged.
  void SetOutput(std::uint32_t outputIndex, int state) override;

  static std::uint32_t StateFromStatus(const std::string& status);

 private:
  class CShared;

  // Closes the gate, leaves the event receiver and stops the tick thread.
  void EndHostUse();

  // Constant after construction.
  IDriver* const m_driver;
  CEventReceiver* const m_eventReceiver;
  CGWClient* const m_client;
  const std::shared_ptr<CShared> m_shared;

  // Keeps the started flag and the event registration in step between the
  // host's StartIO/StopIO and the worker thread's Resubscribe. Never held
  // while calling the host.
  CPlainLock m_registrationLock;
  bool m_started GUARDED_BY(m_registrationLock) = false;
};

}  // namespace quorvel
