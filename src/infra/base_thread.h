// CBaseThread: one OS thread with a strict start/stop protocol.
//
// Start(name) starts ThreadFunction on a new thread (false while one still
// runs). Stop(timeout) signals the stop event and waits for the thread; it
// returns true when no thread is left, false when called from the thread
// itself. Every wait inside a ThreadFunction must also wait on the stop event
// (or on a socket that the stopper closes), so that Stop returns in time.
// A thread that still runs after the time-out is detached, never killed (no
// forced termination exists that leaves locks and heaps sane): Stop still
// returns by its time-out, the object forgets the thread, and the thread runs
// on by itself on its own control block. The object may be destroyed after
// that; a ThreadFunction that can overstay a Stop must by then touch only
// state it shares through its own references, never the object's members.
//
// Start after the thread ended by itself starts a fresh thread (under the
// new name); Start while it runs fails and keeps the name. Stop from inside
// ThreadFunction returns false and leaves the stop event signalled; the
// owner's later Stop or destructor still cleans up.
//
// Owner threads call Start, Stop, IsRunning and the destructor; the thread
// itself may call IsCurrentThread, the stop-event helpers and Stop. A
// subclass whose ThreadFunction uses its own members must call Stop in its
// own destructor, before those members go.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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
  virtual bool Stop(std::uint32_t timeoutMs);

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
  std::unique_ptr<platform::OsThread> m_thread;
};

}  // namespace quorvel
