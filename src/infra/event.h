// CEvent / CManualEvent: the driver's kernel-event wrappers.
//
// An event is unnamed and created unsignalled, with auto reset (one waiter is
// released per Set and the event resets itself) or manual reset (stays set
// until Reset). A null handle (creation failed) makes every call fail.
// Any thread may Set, Reset and Wait; the object itself is owned by whoever
// embeds it. CManualEvent is the stop event of every thread object.
#pragma once

#include <cstdint>
#include <memory>

namespace quorvel {

namespace platform {
class WaitableEvent;
}

// Wait without time-out.
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

class CEvent {
 public:
  explicit CEvent(bool manualReset);
  virtual ~CEvent();

  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;

  bool Set();
  bool Reset();
  // True when the event was signalled within timeoutMs (kInfinite: no limit).
  bool Wait(std::uint32_t timeoutMs);
  // Waits up to 1000 ms for either of two events: 0 or 1 for the one that
  // fired, -1 on time-out or a null argument.
  static int WaitForEither(CEvent* events[2]);

  bool IsValid() const { return m_handle != nullptr; }

 private:
  std::unique_ptr<platform::WaitableEvent> m_handle;
};

class CManualEvent : public CEvent {
 public:
  CManualEvent() : CEvent(true) {}
  ~CManualEvent() override = default;
};

}  // namespace quorvel
