#include "session/reply_wait.h"

#include <algorithm>
#include <chrono>

namespace quorvel {

namespace {

// How late an abort may be noticed. Short against the connection time-out
// (5000 ms), long enough that the polling costs nothing.
constexpr std::uint32_t kAbortPollMs = 20;

}  // namespace

ReplyWait WaitForReply(CEvent& reply, std::uint32_t timeoutMs, CEvent* abort) {
  if (abort == nullptr) return reply.Wait(timeoutMs) ? ReplyWait::kReplied : ReplyWait::kTimedOut;

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const std::uint32_t slice =
        static_cast<std::uint32_t>(std::clamp<long long>(left, 0, kAbortPollMs));
    if (reply.Wait(slice)) return ReplyWait::kReplied;
    if (abort->Wait(0)) return ReplyWait::kAborted;
    if (left <= 0) return ReplyWait::kTimedOut;
  }
}

bool QueueRequest(CGWClient* client, ClientMessage* message) {
  if (message == nullptr) return false;
  if (client == nullptr) {
    delete message;
    return false;
  }
  return client->Send(message);
}

}  // namespace quorvel
