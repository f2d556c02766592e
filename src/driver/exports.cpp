// The library's entry points. They only allocate, construct and destroy;
// every real action starts later through the returned interfaces. Nothing
// is thrown to the host: a failed allocation or construction yields null.
// The host's driver object is a CDriverHandle: deleting it ends the host's
// use of the driver, whose threads may outlive the delete by a little.
#include <new>

#include "capability/capability_query_factory.h"
#include "driver/driver_handle.h"
#include "strevon.h"

#if defined(_WIN32)
// strevon.def names the exports; nothing else leaves the DLL.
#include "driver/boundary_layout.h"
#define STREVON_EXPORT extern "C"
#else
#define STREVON_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using quorvel::CDriverHandle;
using namespace quorvel::ipcapture;

namespace {

CDriverHandle* NewDriver() {
  try {
    return CDriverHandle::Create();
  } catch (...) {
    return nullptr;
  }
}

// The process-wide query module of the Init/Start/Terminate/Uninit exports.
// The host calls those four from one thread at a time.
IIPCapabilityQuery* g_queryModule = nullptr;

}  // namespace

STREVON_EXPORT IIPCaptureDriver* CreateIPCapture() { return NewDriver(); }
STREVON_EXPORT IIPCaptureDriverEx* CreateIPCaptureEx() { return NewDriver(); }
STREVON_EXPORT IIPCaptureDriverEx2* CreateIPCaptureEx2() { return NewDriver(); }
STREVON_EXPORT IIPCaptureDriverEx3* CreateIPCaptureEx3() { return NewDriver(); }

STREVON_EXPORT void DeleteIPCapture(IIPCaptureDriver* driver) {
  if (driver != nullptr) STREVON_DELETE_THROUGH_SLOT0(driver);
}
STREVON_EXPORT void DeleteIPCaptureEx(IIPCaptureDriverEx* driver) {
  if (driver != nullptr) STREVON_DELETE_THROUGH_SLOT0(driver);
}
STREVON_EXPORT void DeleteIPCaptureEx2(IIPCaptureDriverEx2* driver) {
  if (driver != nullptr) STREVON_DELETE_THROUGH_SLOT0(driver);
}
STREVON_EXPORT void DeleteIPCaptureEx3(IIPCaptureDriverEx3* driver) {
  if (driver != nullptr) STREVON_DELETE_THROUGH_SLOT0(driver);
}

STREVON_EXPORT IIPCapabilityQuery* CreateCapabilityQueryModule(ICapabilityQueryNotify* notify,
                                                               std::uint32_t flag) {
  return quorvel::NewCapabilityQueryModule(notify, (flag & 0xFF) != 0);
}

STREVON_EXPORT void DeleteCapabilityQueryModule(IIPCapabilityQuery* module) {
  if (module != nullptr) STREVON_DELETE_THROUGH_SLOT0(module);
}

STREVON_EXPORT std::uint32_t InitCapabilityQuery(ICapabilityQueryNotify* notify,
                                                 std::uint32_t flag) {
  if (g_queryModule != nullptr) return 0;
  g_queryModule = CreateCapabilityQueryModule(notify, flag);
  return 1;
}

STREVON_EXPORT std::uint32_t StartCapabilityQuery(const char* address, std::uint32_t port,
                                                  const char* userName, const char* password,
                                                  ICapabilityResultSink* sink) {
  if (address == nullptr || userName == nullptr || password == nullptr) return 0;
  if (g_queryModule == nullptr) return 0;
  return g_queryModule->Start(address, static_cast<std::uint16_t>(port), userName, password, sink);
}

STREVON_EXPORT std::uint32_t TerminateCapabilityQuery() {
  if (g_queryModule != nullptr) g_queryModule->Terminate();
  return 1;
}

STREVON_EXPORT std::uint32_t UninitCapabilityQuery() {
  if (g_queryModule != nullptr) {
    STREVON_DELETE_THROUGH_SLOT0(g_queryModule);
    g_queryModule = nullptr;
  }
  return 1;
}
