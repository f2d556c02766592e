// The smallest host: built against an installed Strevon (its header only),
// it loads the installed plug-in by path and resolves every entry point by
// name, as a recording server does, then creates and deletes a driver and
// starts and ends the capability query. Prints "ok" and exits 0 when all of
// it worked. STREVON_PLUGIN comes from find_package or pkg-config.
#include <dlfcn.h>

#include <cstdio>

#include "strevon.h"

int main(int argc, char** argv) {
  const char* plugin = argc > 1 ? argv[1] : STREVON_PLUGIN;
  void* library = dlopen(plugin, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", plugin, dlerror());
    return 1;
  }
  const char* const names[] = {"CreateIPCapture", "CreateIPCaptureEx", "CreateIPCaptureEx2", "CreateIPCaptureEx3",
                               "DeleteIPCapture", "DeleteIPCaptureEx", "DeleteIPCaptureEx2", "DeleteIPCaptureEx3",
                               "CreateCapabilityQueryModule", "DeleteCapabilityQueryModule", "InitCapabilityQuery",
                               "StartCapabilityQuery", "TerminateCapabilityQuery", "UninitCapabilityQuery"};
  for (const char* name : names) {
    if (dlsym(library, name) == nullptr) {
      std::fprintf(stderr, "%s does not export %s\n", plugin, name);
      return 1;
    }
  }
  auto create = reinterpret_cast<decltype(&CreateIPCaptureEx3)>(dlsym(library, "CreateIPCaptureEx3"));
  auto destroy = reinterpret_cast<decltype(&DeleteIPCaptureEx3)>(dlsym(library, "DeleteIPCaptureEx3"));
  quorvel::ipcapture::IIPCaptureDriverEx3* driver = create();
  if (driver == nullptr || driver->GetVideoCaptureEx() != nullptr) {
    std::fprintf(stderr, "a new driver is missing, or has video before Open\n");
    return 1;
  }
  destroy(driver);
  std::printf("ok: %s loaded, 14 entry points, a driver created and deleted\n", plugin);
  return 0;
}
