#include "infra/platform/waitable_event.h"

#include <windows.h>

namespace quorvel {
namespace platform {

namespace {

HANDLE Handle(void* handle) { return static_cast<HANDLE>(handle); }

}  // namespace

WaitableEvent::WaitableEvent(bool manualReset)
    : m_handle(CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr)) {}

WaitableEvent::~WaitableEvent() {
  if (m_handle != nullptr) CloseHandle(Handle(m_handle));
}

void WaitableEvent::Set() {
  if (m_handle != nullptr) SetEvent(Handle(m_handle));
}

void WaitableEvent::Reset() {
  if (m_handle != nullptr) ResetEvent(Handle(m_handle));
}

bool WaitableEvent::Wait(std::uint32_t timeoutMs) {
  if (m_handle == nullptr) return false;
  return WaitForSingleObject(Handle(m_handle), timeoutMs) == WAIT_OBJECT_0;
}

int WaitableEvent::WaitForEither(WaitableEvent& first, WaitableEvent& second,
                                 std::uint32_t timeoutMs) {
  if (&first == &second) return first.Wait(timeoutMs) ? 0 : -1;
  if (first.m_handle == nullptr || second.m_handle == nullptr) return -1;
  const HANDLE handles[2] = {Handle(first.m_handle), Handle(second.m_handle)};
  // With both signalled the lower index wins, and only that one's
  // auto-reset signal is consumed.
  const DWORD result = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
  if (result == WAIT_OBJECT_0) return 0;
  if (result == WAIT_OBJECT_0 + 1) return 1;
  return -1;
}

}  // namespace platform
}  // namespace quorvel
