// CIPPTZDriverIf: the host's PTZ driver interface as the driver implements
// it. The control object serves both IIPPTZApi and IIPPTZApiEx, so the plain
// GetPTZApi is GetPTZApiEx under its older name. Adds no slot.
#pragma once

#include <cstdint>

#include "strevon.h"

namespace quorvel {

class CIPPTZDriverIf : public IIPPTZDriverEx {
 public:
  virtual ~CIPPTZDriverIf() = default;
  STREVON_IMPLEMENT_SLOT0

  IIPPTZApi* GetPTZApi(std::uint32_t channel) override { return GetPTZApiEx(channel); }
};

}  // namespace quorvel
