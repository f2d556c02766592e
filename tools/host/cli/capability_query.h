// CapabilityQuery: one automatic-search query of a Gateway, driven through
// the library's exports the way a recording server drives it: either the
// process-wide query (InitCapabilityQuery, StartCapabilityQuery, wait for
// the notifier, UninitCapabilityQuery) or a free-standing module
// (CreateCapabilityQueryModule, Start, wait, DeleteCapabilityQueryModule).
// Owns the notifier and the result sink for the length of one Run. Called
// from one thread; the notifier and the sink are called on the driver's
// fetching thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "device_description.h"
#include "driver_library.h"
#include "endpoint.h"

namespace strevon {
namespace hosttool {

struct QueryRequest {
  Endpoint endpoint;
  std::string userName;
  std::string password;
  std::uint32_t frameRateFlag = 0;  // non-zero: the device reports 30 fps
  bool freeModule = false;          // Create/DeleteCapabilityQueryModule
  std::chrono::milliseconds timeout{30000};
};

struct QueryResult {
  bool ok = false;
  // The notifier's status and the driver's own failure text, or the tool's
  // reason when the query never started or never answered.
  int status = -1;
  std::string message;
  DeviceDescription device;
};

class CapabilityQuery {
 public:
  explicit CapabilityQuery(const host::DriverLibrary& library) : m_library(library) {}

  QueryResult Run(const QueryRequest& request) const;

 private:
  const host::DriverLibrary& m_library;
};

}  // namespace hosttool
}  // namespace strevon
