#include "input_probe.h"

namespace strevon {
namespace soak {

InputProbe::InputProbe(std::uint32_t inputs)
    : m_count(inputs), m_states(new std::atomic<std::uint32_t>[inputs == 0 ? 1 : inputs]) {
  for (std::uint32_t i = 0; i < m_count; ++i) m_states[i].store(kNoState);
}

void InputProbe::OnInputState(std::uint32_t inputId, std::uint32_t state) {
  ++m_reports;
  if (inputId >= m_count) {
    ++m_unknown;
    return;
  }
  m_states[inputId].store(state);
}

std::uint32_t InputProbe::LatestState(std::uint32_t input) const {
  return input < m_count ? m_states[input].load() : kNoState;
}

}  // namespace soak
}  // namespace strevon
