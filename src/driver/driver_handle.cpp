#include "driver/driver_handle.h"

#include <new>
#include <utility>

namespace quorvel {

CDriverHandle* CDriverHandle::Create() {
  std::shared_ptr<CStrevonDriver> driver = CStrevonDriver::CreateShared();
  if (!driver) return nullptr;
  return new (std::nothrow) CDriverHandle(std::move(driver));
}

CDriverHandle::~CDriverHandle() { m_driver->Shutdown(); }

}  // namespace quorvel
