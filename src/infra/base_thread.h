// CBaseThread: one OS thread with a strict start/stop protocol.
//
// Start(name) starts ThreadFunction on a new thread (false while one still
// runs). Stop(timeout) signals the stop event and waits for the thread; it
// returns true when no thread is left, false when called from the thread
// itself. Every wait inside a ThreadFunction must also wait on the stop event
// (or on a socket that the stopper closes), so that Stop returns in time.
// A thread that still runs after the time-out is detached, never killed: its
// control block outlives the object, and the object must not be destroyed
// under it (owners only let this happen for threads that only wait).
//
// Owner threads call Start, Stop and the destructor; a subclass whose
// ThreadFunction uses its own members must call Stop in its own destructor,
// before those members go.
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
