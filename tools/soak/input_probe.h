// InputProbe: the soak host's digital-input callback. Keeps the latest
// state the driver reported for each input (events and the periodic
// reports alike) and the number of reports, without growing.
//
// Owned by the soak run, alive until the driver is deleted. OnInputState
// runs on the driver's event and I/O threads; the getters on any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "strevon.h"

namespace strevon {
namespace soak {

class InputProbe : public quorvel::ICaptureIOCallback {
 public:
  static constexpr std::uint32_t kNoState = 0xFFFFFFFFu;

  explicit InputProbe(std::uint32_t inputs);

  void OnInputState(std::uint32_t inputId, std::uint32_t state) override;

  // kNoState before the first report for the input, or for an unknown id.
  std::uint32_t LatestState(std::uint32_t input) const;
  std::uint64_t Reports() const { return m_reports.load(); }
  std::uint64_t UnknownIds() const { return m_unknown.load(); }

 private:
  // Constant after construction.
  const std::uint32_t m_count;
  const std::unique_ptr<std::atomic<std::uint32_t>[]> m_states;

  std::atomic<std::uint64_t> m_reports{0};
  std::atomic<std::uint64_t> m_unknown{0};
};

}  // namespace soak
}  // namespace strevon
