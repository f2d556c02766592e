// NameLookup: the Gateway's host name turned into its first IPv4 address
// without ever blocking the caller for longer than it chooses.
//
// The system resolver has no time-out and nothing can interrupt it, so a
// name is looked up on a thread of its own. That thread holds only the
// shared NameLookup it reports into: a waiter may give up at any time, and
// a late answer lands in memory that stays alive until both are done. A
// dotted IPv4 address never reaches the resolver.
//
// Threads: StartNameLookup and Wait from any thread. At most
// kMaxPendingLookups names are looked up at once, and a name whose lookup
// still runs is not looked up a second time (the pending lookup is shared),
// so a Gateway name that always hangs costs one thread, not one per retry.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "infra/plain_lock.h"

namespace quorvel {
namespace platform {

class NameLookup {
 public:
  enum class State { kPending, kFound, kNotFound };

  // Up to timeoutMs for the answer; address (network byte order) is set
  // when the result is kFound.
  State Wait(std::uint32_t timeoutMs, std::uint32_t& address);

  // The resolver thread, once.
  void Finish(bool found, std::uint32_t address);

 private:
  CPlainLock m_lock;
  std::condition_variable m_finished;
  State m_state GUARDED_BY(m_lock) = State::kPending;
  std::uint32_t m_address GUARDED_BY(m_lock) = 0;
};

// Resolves host to its first IPv4 address; may block for as long as the
// system's resolver takes.
using Resolver = bool (*)(const std::string& host, std::uint32_t& address);

// The system's resolver (what lookups call unless a test replaced it): the
// first IPv4 address of host (a name or dotted address) in network byte
// order. False when nothing was found or the address is 0.0.0.0. Blocks
// and cannot be ended early: callers that must stay stoppable go through
// StartNameLookup.
bool ResolveIPv4(const std::string& host, std::uint32_t& address);

constexpr std::size_t kMaxPendingLookups = 8;

// True when host is a dotted IPv4 address (a.b.c.d); address then holds it
// in network byte order.
bool ParseDottedIPv4(const std::string& host, std::uint32_t& address);

// The lookup of host, started now or shared with one still pending; null
// when kMaxPendingLookups other names are pending or no thread could be
// started.
std::shared_ptr<NameLookup> StartNameLookup(const std::string& host);

// Tests: lookups started from now on call resolver instead of the system's
// (null restores the system's).
void SetResolverForTesting(Resolver resolver);

}  // namespace platform
}  // namespace quorvel
