// IOCallback: the host's digital-input callback; records every
// (input id, state) report in order. Called from the driver's event and
// I/O threads.
#pragma once

#include <cstdint>

#include "strevon.h"
#include "waitable_log.h"

namespace strevon {
namespace host {

struct InputReport {
  std::uint32_t inputId = 0;
  std::uint32_t state = 0;
};

class IOCallback : public quorvel::ICaptureIOCallback {
 public:
  void OnInputState(std::uint32_t inputId, std::uint32_t state) override {
    m_reports.Add(InputReport{inputId, state});
  }
  const WaitableLog<InputReport>& Reports() const { return m_reports; }

 private:
  WaitableLog<InputReport> m_reports;
};

}  // namespace host
}  // namespace strevon
