#include "driver_library.h"

#include <dlfcn.h>

namespace strevon {
namespace host {

namespace {

template <typename F>
bool Resolve(void* handle, const char* name, F& out, std::string& error) {
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    if (!error.empty()) error += ", ";
    error += name;
    return false;
  }
  out = reinterpret_cast<F>(symbol);
  return true;
}

}  // namespace

DriverLibrary::~DriverLibrary() {
  // RTLD_NODELETE keeps the code mapped; closing only drops our reference.
  if (m_handle != nullptr) dlclose(m_handle);
}

bool DriverLibrary::Load(const std::string& path) {
  m_error.clear();
  m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (m_handle == nullptr) {
    const char* why = dlerror();
    m_error = "cannot load " + path + ": " + (why ? why : "unknown error");
    return false;
  }
  std::string missing;
  bool ok = true;
  ok &= Resolve(m_handle, "CreateIPCapture", m_exports.CreateIPCapture, missing);
  ok &= Resolve(m_handle, "CreateIPCaptureEx", m_exports.CreateIPCaptureEx, missing);
  ok &= Resolve(m_handle, "CreateIPCaptureEx2", m_exports.CreateIPCaptureEx2, missing);
  ok &= Resolve(m_handle, "CreateIPCaptureEx3", m_exports.CreateIPCaptureEx3, missing);
  ok &= Resolve(m_handle, "DeleteIPCapture", m_exports.DeleteIPCapture, missing);
  ok &= Resolve(m_handle, "DeleteIPCaptureEx", m_exports.DeleteIPCaptureEx, missing);
  ok &= Resolve(m_handle, "DeleteIPCaptureEx2", m_exports.DeleteIPCaptureEx2, missing);
  ok &= Resolve(m_handle, "DeleteIPCaptureEx3", m_exports.DeleteIPCaptureEx3, missing);
  ok &= Resolve(m_handle, "CreateCapabilityQueryModule", m_exports.CreateCapabilityQueryModule, missing);
  ok &= Resolve(m_handle, "DeleteCapabilityQueryModule", m_exports.DeleteCapabilityQueryModule, missing);
  ok &= Resolve(m_handle, "InitCapabilityQuery", m_exports.InitCapabilityQuery, missing);
  ok &= Resolve(m_handle, "StartCapabilityQuery", m_exports.StartCapabilityQuery, missing);
  ok &= Resolve(m_handle, "TerminateCapabilityQuery", m_exports.TerminateCapabilityQuery, missing);
  ok &= Resolve(m_handle, "UninitCapabilityQuery", m_exports.UninitCapabilityQuery, missing);
  if (!ok) {
    m_error = path + " lacks the entry points: " + missing;
    dlclose(m_handle);
    m_handle = nullptr;
    m_exports = DriverExports();
  }
  return ok;
}

}  // namespace host
}  // namespace strevon
