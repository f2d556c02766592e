#include "infra/platform/tcp_socket.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace quorvel {
namespace platform {
namespace {

TEST(ClassifySocketErrorTest, MapsTheErrorsTheTransportActsOn) {
  struct Case {
    int error;
    SocketError expected;
  };
  const Case cases[] = {
      {0, SocketError::kNone},
      {EAGAIN, SocketError::kTimeout},  // the receive time-out: keep the socket
      {EWOULDBLOCK, SocketError::kTimeout},
      {ECONNRESET, SocketError::kConnectionLost},
      {ENOTCONN, SocketError::kConnectionLost},
      {ENETDOWN, SocketError::kConnectionLost},
      {EPIPE, SocketError::kConnectionLost},
      {ETIMEDOUT, SocketError::kConnectionLost},  // TCP gave up, not our time-out
      {EBADF, SocketError::kOther},
      {EINVAL, SocketError::kOther},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(c.expected, ClassifySocketError(c.error));
  }
}

}  // namespace
}  // namespace platform
}  // namespace quorvel
