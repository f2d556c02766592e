// DebugSink: the host's receiver of the driver's log records. Keeps every
// (level, text) pair in order; can also echo them to a stream. Called from
// every driver thread.
#pragma once

#include <chrono>
#include <cstdio>
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

 private:
  WaitableLog<DebugLine> m_lines;
  std::FILE* m_echo = nullptr;
};

}  // namespace host
}  // namespace strevon
