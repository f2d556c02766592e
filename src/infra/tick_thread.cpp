#include "infra/tick_thread.h"

namespace quorvel {

void CTickThread::ThreadFunction() {
  for (;;) {
    // The wait starts after OnTick returned, so a long tick delays the next.
    if (WaitForStop(m_tickIntervalMs.load())) return;
    try {
      OnTick();
    } catch (...) {
      // A failing tick must not end the thread.
    }
  }
}

}  // namespace quorvel
