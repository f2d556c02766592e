// DriverLibrary: loads libstrevon.so the way a recording server does
// (dlopen, then every entry point resolved by plain name) and keeps it loaded
// for the life of the process (RTLD_NODELETE), since an abandoned capability
// fetch may still run inside it after the host let go of it.
#pragma once

#include <cstdint>
#include <string>

#include "strevon.h"

namespace strevon {
namespace host {

struct DriverExports {
  decltype(&::CreateIPCapture) CreateIPCapture = nullptr;
  decltype(&::CreateIPCaptureEx) CreateIPCaptureEx = nullptr;
  decltype(&::CreateIPCaptureEx2) CreateIPCaptureEx2 = nullptr;
  decltype(&::CreateIPCaptureEx3) CreateIPCaptureEx3 = nullptr;
  decltype(&::DeleteIPCapture) DeleteIPCapture = nullptr;
  decltype(&::DeleteIPCaptureEx) DeleteIPCaptureEx = nullptr;
  decltype(&::DeleteIPCaptureEx2) DeleteIPCaptureEx2 = nullptr;
  decltype(&::DeleteIPCaptureEx3) DeleteIPCaptureEx3 = nullptr;
  decltype(&::CreateCapabilityQueryModule) CreateCapabilityQueryModule = nullptr;
  decltype(&::DeleteCapabilityQueryModule) DeleteCapabilityQueryModule = nullptr;
  decltype(&::InitCapabilityQuery) InitCapabilityQuery = nullptr;
  decltype(&::StartCapabilityQuery) StartCapabilityQuery = nullptr;
  decltype(&::TerminateCapabilityQuery) TerminateCapabilityQuery = nullptr;
  decltype(&::UninitCapabilityQuery) UninitCapabilityQuery = nullptr;
};

class DriverLibrary {
 public:
  DriverLibrary() = default;
  ~DriverLibrary();
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  // Loads the library and resolves all fourteen entry points. On failure
  // Error() says what is missing.
  bool Load(const std::string& path);
  bool IsLoaded() const { return m_handle != nullptr; }
  const std::string& Error() const { return m_error; }
  const DriverExports& Exports() const { return m_exports; }

 private:
  void* m_handle = nullptr;
  DriverExports m_exports;
  std::string m_error;
};

}  // namespace host
}  // namespace strevon
