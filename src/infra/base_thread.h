// CBaseThread: one OS thread with a strict start/stop protocol.
//
// Start(name) starts ThreadFunction on a new thread. Stop(timeout) signals
// the stop event and waits for the thread. Every wait inside a
// ThreadFunction must also wait on the stop event (or on a socket that the
// stopper shuts down), so that Stop returns in time.
//
// A thread is never killed and never forgotten while it runs: when it is
// still running after the time-out, Stop returns false and the object keeps
// it; Start refuses until it has ended, so an overstaying thread is never
// joined by a second one working on the same members. Whatever such a
// thread may still use must outlive it: an owner that may be destroyed
// while its threads overstay hands SetKeepAlive a share of itself, and every
// thread it starts then holds that share until its body has returned, so the
// owner is freed by whichever ends last, the owner's holders or the thread
// (the destructor then runs on the thread, where Stop lets it go).
//
// Start after the thread ended by itself starts a fresh thread (under the
// new name); Start while it runs fails and keeps the name. Stop from inside
// ThreadFunction returns false and leaves the stop event signalled; the
// owner's later Stop or destructor still cleans up.
//
// Owner threads call Start, Stop, SetKeepAlive, IsRunning and the
// destructor; the thread itself may call IsCurrentThread, the stop-event
// helpers and Stop. A subclass whose ThreadFunction uses its own members
// must call Stop in its own destructor, before those members go.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "infra/event.h"

namespace quorvel {

namespace platform {
class OsThread;
}

class CBaseThread {
 public:
  CBaseThread();
  // Stops the thread with 2000 ms.
  virtual ~CBaseThread();

  CBaseThread(const CBaseThread&) = delete;
  CBaseThread& operator=(const CBaseThread&) = delete;

  virtual bool Start(const std::string& name);
  // True when no thread is left; false when called from the thread itself
  // or when the thread still runs after timeoutMs (it stays with the object).
  virtual bool Stop(std::uint32_t timeoutMs);

  // Threads started from now on hold owner (when it is still alive) for
  // their whole life. Owner thread, while no thread runs.
  void SetKeepAlive(std::weak_ptr<void> owner) { m_keepAlive = std::move(owner); }

  const std::string& GetName() const { return m_name; }
  // True while a thread started by this object has not yet ended.
  bool IsRunning() const;
  // True when called on this object's own thread.
  bool IsCurrentThread() const;

 protected:
  virtual void ThreadFunction() = 0;

  CManualEvent& StopEvent() { return m_stopEvent; }
  // Zero-time check of the stop event.
  bool IsStopSignalled() { return m_stopEvent.Wait(0); }
  // Waits on the stop event; true when it was signalled within timeoutMs.
  bool WaitForStop(std::uint32_t timeoutMs) { return m_stopEvent.Wait(timeoutMs); }

 private:
  std::string m_name;
  CManualEvent m_stopEvent;
  std::weak_ptr<void> m_keepAlive;
  std::unique_ptr<platform::OsThread> m_thread;
};

}  // namespace quorvel
