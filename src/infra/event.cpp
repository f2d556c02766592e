#include "infra/event.h"

#include <new>

#include "infra/platform/waitable_event.h"

namespace quorvel {

namespace {

constexpr std::uint32_t kWaitForEitherTimeoutMs = 1000;

static_assert(kInfinite == platform::WaitableEvent::kInfiniteWait,
              "CEvent and its platform event must agree on the endless wait");

}  // namespace

CEvent::CEvent(bool manualReset)
    : m_handle(new (std::nothrow) platform::WaitableEvent(manualReset)) {}

CEvent::~CEvent() = default;

bool CEvent::Set() {
  if (!m_handle) return false;
  m_handle->Set();
  return true;
}

bool CEvent::Reset() {
  if (!m_handle) return false;
  m_handle->Reset();
  return true;
}

bool CEvent::Wait(std::uint32_t timeoutMs) {
  if (!m_handle) return false;
  return m_handle->Wait(timeoutMs);
}

int CEvent::WaitForEither(CEvent* events[2]) {
  if (events == nullptr || events[0] == nullptr || events[1] == nullptr) return -1;
  if (!events[0]->m_handle || !events[1]->m_handle) return -1;
  return platform::WaitableEvent::WaitForEither(*events[0]->m_handle, *events[1]->m_handle,
                                                kWaitForEitherTimeoutMs);
}

}  // namespace quorvel
