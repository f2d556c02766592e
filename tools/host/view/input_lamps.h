// InputLamps: the view's I/O callback. Keeps only the latest state of each
// digital input and how often it changed (the driver repeats every state on
// each I/O tick; a list of every report would grow for as long as the view
// runs) and tells a listener when a state changes, so the page's lamp
// follows at once. OnInputState is called on the driver's receiver and I/O
// threads; States from the web server's threads.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "strevon.h"

namespace strevon {
namespace hosttool {

struct InputLamp {
  std::uint32_t state = 0;    // 2 on, 1 off, 0 not reported yet
  std::uint64_t changes = 0;  // reports that changed the state
};

class InputLamps : public quorvel::ICaptureIOCallback {
 public:
  // Set before StartIO; called outside the lock.
  void SetListener(std::function<void()> listener) { m_listener = std::move(listener); }

  void OnInputState(std::uint32_t inputId, std::uint32_t state) override {
    bool changed = false;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      InputLamp& lamp = m_lamps[inputId];
      changed = lamp.state != state;
      if (changed && lamp.state != 0) ++lamp.changes;
      lamp.state = state;
    }
    if (changed && m_listener) m_listener();
  }

  std::map<std::uint32_t, InputLamp> States() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lamps;
  }

 private:
  std::function<void()> m_listener;
  mutable std::mutex m_mutex;
  std::map<std::uint32_t, InputLamp> m_lamps;  // by input id; guarded by m_mutex
};

}  // namespace hosttool
}  // namespace strevon
