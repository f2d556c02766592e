#include "infra/platform/named_mutex.h"

#include <windows.h>

namespace quorvel {
namespace platform {

namespace {

HANDLE CreateNamed(const std::string& name) {
  if (name.empty()) return nullptr;
  // Opens the existing mutex of that name when another driver or process
  // made it first; both then share one lock.
  return CreateMutexA(nullptr, FALSE, name.c_str());
}

}  // namespace

NamedMutex::NamedMutex(const std::string& name) : m_path(name), m_handle(CreateNamed(name)) {}

NamedMutex::~NamedMutex() {
  if (m_handle != nullptr) CloseHandle(static_cast<HANDLE>(m_handle));
}

bool NamedMutex::Lock(std::uint32_t timeoutMs) {
  if (!IsValid()) return false;
  const DWORD result = WaitForSingleObject(static_cast<HANDLE>(m_handle), timeoutMs);
  // Abandoned: the holder ended without releasing; the lock is ours now.
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void NamedMutex::Unlock() {
  if (IsValid()) ReleaseMutex(static_cast<HANDLE>(m_handle));
}

}  // namespace platform
}  // namespace quorvel
