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
// outputs, and destroyed at Close, before the driver's event receiver and
// Gateway client, which it uses but does not own (nor the IDriver or the
// host's callback). The destructor stops the tick thread before any member
// goes and takes the object out of the event receiver, whether or not the
// host called StopIO, waiting for a delivery already running into it.
//
// Threads: the host calls the ICaptureIOApi slots on its own threads;
// EventReceived runs on the Gateway client's receiver thread; OnTick on the
// "Gateway IO" thread. The host callback is called from both of these, so
// it must be thread-safe; its pointer is atomic here. m_lock guards the
// input states only.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "driver/idriver.h"
#include "infra/recursive_lock.h"
#include "infra/tick_thread.h"
#include "session/event_receiver.h"
#include "session/event_receiver_client.h"
#include "strevon.h"

namespace quorvel {

class CGatewayIO : public CTickThread, public ICaptureIOApi, public IEventReceiverClient {
 public:
  // Input states as the host receives them.
  static constexpr std::uint32_t kStateOther = 0;
  static constexpr std::uint32_t kStateOff = 1;
  static constexpr std::uint32_t kStateOn = 2;

  CGatewayIO(IDriver* driver, CEventReceiver* eventReceiver, CGWClient* client);
  ~CGatewayIO() override;

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

  // IEventReceiverClient.
  void EventReceived(const std::string& eventType, const std::string& pid,
                     const std::string& status) override;

  static std::uint32_t StateFromStatus(const std::string& status);

 protected:
  void OnTick() override;

 private:
  // Stops the tick thread (at most 5000 ms) and tells a running tick to
  // leave its walk.
  void StopTicks();
  // Marks I/O as stopped for Resubscribe.
  void ClearStarted();

  // Constant after construction.
  IDriver* const m_driver;
  CEventReceiver* const m_eventReceiver;
  CGWClient* const m_client;

  std::atomic<ICaptureIOCallback*> m_callback{nullptr};
  // Set before the thread is stopped so that a tick in progress stops
  // calling the host between two inputs.
  std::atomic<bool> m_stopping{false};

  // Keeps the started flag and the event registration in step between the
  // host's StartIO/StopIO and the worker thread's Resubscribe. Never held
  // while calling the host.
  std::mutex m_registrationMutex;
  // Guarded by m_registrationMutex.
  bool m_started = false;

  CRecursiveLock m_lock;
  // Guarded by m_lock. Input id to state, walked in ascending id order.
  std::map<std::uint32_t, std::uint32_t> m_inputStates;
};

}  // namespace quorvel
