#include "capability/capability_query_factory.h"

#include <new>

#include "capability/gateway_capability_query_module.h"

namespace quorvel {

ipcapture::IIPCapabilityQuery* NewCapabilityQueryModule(ipcapture::ICapabilityQueryNotify* notify,
                                                        bool flag) {
  try {
    return new (std::nothrow) CGatewayCapabilityQueryModule(notify, flag);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace quorvel
