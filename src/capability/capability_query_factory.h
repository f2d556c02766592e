// Factory of the automatic-search module behind the capability exports.
#pragma once

#include "strevon.h"

namespace quorvel {

// A new capability query module for the notifier, or null when none can be
// made.
ipcapture::IIPCapabilityQuery* NewCapabilityQueryModule(ipcapture::ICapabilityQueryNotify* notify,
                                                        bool flag);

}  // namespace quorvel
