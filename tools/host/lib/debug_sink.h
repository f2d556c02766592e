// DebugSink: the host's receiver of the driver's log records. Keeps every
// (level, text) pair in order; can also echo them to a stream. Called from
// every driver thread. For tests it can hold one call inside the sink, as a
// host whose sink blocks would, until released.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "strevon.h"
#include "waitable_log.h"

namespace strevon {
namespace host {

struct DebugLine {
  unsigned level = 0;
  std::string text;
};

class DebugSink : public IDebugInfoSink {
 public:
  void OnDebugInfo(CDebugInfoIf* record) override;

  // Echo every record to this stream as it arrives (null: silent).
  void SetEcho(std::FILE* stream) { m_echo = stream; }

  const WaitableLog<DebugLine>& Lines() const { return m_lines; }
  bool WaitForText(const std::string& fragment, std::chrono::milliseconds timeout) const;
  bool Contains(const std::string& fragment) const;

  // The next call whose text contains fragment stays inside the sink until
  // Release (its line is kept when it leaves); WaitHeld tells when it is.
  void HoldNext(const std::string& fragment);
  bool WaitHeld(std::chrono::milliseconds timeout);
  void Release();

 private:
  enum class Hold { kNone, kArmed, kHeld, kReleased };

  WaitableLog<DebugLine> m_lines;
  std::FILE* m_echo = nullptr;
  std::mutex m_holdMutex;
  std::condition_variable m_holdChanged;
  Hold m_hold = Hold::kNone;  // guarded by m_holdMutex, as is the fragment
  std::string m_holdFragment;
};

}  // namespace host
}  // namespace strevon
