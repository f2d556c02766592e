// CTickThread: calls OnTick once per interval on its own thread.
//
// The first tick comes one interval after Start; the interval is measured
// from the end of the previous OnTick. A signalled stop event ends the loop
// at once; an exception from OnTick is swallowed and the ticks go on.
// The owner calls Start, Stop and SetTickInterval; OnTick runs on the
// thread. Subclasses stop the thread in their destructor.
#pragma once

#include <atomic>
#include <cstdint>

#include "infra/base_thread.h"

namespace quorvel {

class CTickThread : private CBaseThread {
 public:
  CTickThread() = default;
  ~CTickThread() override = default;

  using CBaseThread::GetName;
  using CBaseThread::IsRunning;
  using CBaseThread::SetKeepAlive;
  using CBaseThread::Start;
  using CBaseThread::Stop;

  void SetTickInterval(std::uint32_t ms) { m_tickIntervalMs = ms; }
  std::uint32_t GetTickInterval() const { return m_tickIntervalMs.load(); }

 protected:
  virtual void OnTick() = 0;

 private:
  void ThreadFunction() override;

  // Read by the thread at every wait; may be changed while it runs.
  std::atomic<std::uint32_t> m_tickIntervalMs{2000};
};

}  // namespace quorvel
