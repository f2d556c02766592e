#include "capability/capability_query_factory.h"

namespace quorvel {

ipcapture::IIPCapabilityQuery* NewCapabilityQueryModule(
    ipcapture::ICapabilityQueryNotify* /*notify*/, bool /*flag*/) {
  // The automatic search is not offered yet: no module, so the capability
  // exports report "not started" and the host falls back to manual setup.
  return nullptr;
}

}  // namespace quorvel
