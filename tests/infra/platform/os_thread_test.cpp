#include "infra/platform/os_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "support/wait.h"

namespace quorvel {
namespace platform {
namespace {

// A body that throws still ends its thread normally; a Join that times out
// keeps the thread; an object whose body has ended joins it when destroyed,
// one whose body still runs lets it go; a second Start is refused.
TEST(OsThreadTest, ThrowingBodiesEndAndDestructionJoinsOrLetsGo) {
  {
    OsThread thread;
    ASSERT_TRUE(thread.Start([] { throw std::runtime_error("escaped the body"); }));
    EXPECT_FALSE(thread.Start([] {}));
    ASSERT_TRUE(test_support::WaitUntil([&] { return thread.HasEnded(); }));
  }

  std::atomic<bool> release{false};
  std::atomic<bool> ended{false};
  {
    OsThread thread;
    ASSERT_TRUE(thread.Start([&] {
      while (!release.load()) test_support::WaitUntil([&] { return release.load(); }, 10);
      ended = true;
    }));
    EXPECT_FALSE(thread.Join(20));
    EXPECT_FALSE(thread.HasEnded());
  }
  release = true;
  EXPECT_TRUE(test_support::WaitUntil([&] { return ended.load(); }));
}

}  // namespace
}  // namespace platform
}  // namespace quorvel
