// Digital I/O through the real library: a host's own lock around StopIO.
#include <future>

#include "integration_fixture.h"

namespace strevon {
namespace integration {
namespace {

// Takes the host's lock in every report, then records it; tells when an
// "on" report, which only an input event brings, waits for the lock.
struct LockingCallback : quorvel::ICaptureIOCallback {
  void OnInputState(std::uint32_t inputId, std::uint32_t state) override {
    if (state == 2) eventWaiting = true;
    std::lock_guard<std::mutex> lock(hostLock);
    reports->OnInputState(inputId, state);
  }
  host::IOCallback* reports = nullptr;
  std::mutex hostLock;
  std::atomic<bool> eventWaiting{false};
};

using IOStopTest = IntegrationFixture;

// StopIO must not wait for the event delivery that waits for the lock the
// caller holds: that deadlocked both threads and all Gateway traffic.
TEST_F(IOStopTest, StopIOWhileHoldingTheLockTheInputCallbackTakes) {
  LockingCallback callback;
  callback.reports = &ioCallback;
  DriverGuard guard{this};
  ASSERT_NO_FATAL_FAILURE(Open(TwoCameras()));
  ASSERT_TRUE(io->SetIOCallback(&callback));
  ASSERT_TRUE(io->StartIO());
  std::unique_lock<std::mutex> hostLock(callback.hostLock);
  ASSERT_GE(simulator->SetInput("in-1", true), 1u);
  ASSERT_TRUE(WaitUntil([&] { return callback.eventWaiting.load(); }, 5000));
  auto stop = std::async(std::launch::async, [&] { return io->StopIO(); });
  const bool returned = stop.wait_for(2s) == std::future_status::ready;
  hostLock.unlock();
  EXPECT_TRUE(returned) << "StopIO waited for the host's callback";
  EXPECT_FALSE(stop.get());
  // Once the late report is through, I/O starts again and events flow.
  ASSERT_TRUE(WaitUntil([&] { return io->StartIO(); }, 5000));
  EXPECT_TRUE(InputEventReachesHost("in-2"));
}

}  // namespace
}  // namespace integration
}  // namespace strevon
