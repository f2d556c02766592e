// The pending-lookup bookkeeping shared by every backend; the resolver
// itself (ResolveIPv4, ParseDottedIPv4) is in name_resolver.cpp.
#include "infra/platform/name_lookup.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace quorvel {
namespace platform {

namespace {

std::atomic<Resolver> g_testResolver{nullptr};

// The lookups started and not yet seen finished, by name. Touched only by
// StartNameLookup's callers, never by a resolver thread; allocated once and
// never destroyed, so that no exit-time destructor races a late caller.
struct PendingLookups {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<NameLookup>> byName;  // guarded by mutex
};

PendingLookups& Pending() {
  static PendingLookups* pending = new PendingLookups();
  return *pending;
}

}  // namespace

NameLookup::State NameLookup::Wait(std::uint32_t timeoutMs, std::uint32_t& address) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  CPlainGuard guard(m_lock);
  while (m_state == State::kPending &&
         m_finished.wait_until(guard.ForWait(), deadline) != std::cv_status::timeout) {
  }
  if (m_state == State::kFound) address = m_address;
  return m_state;
}

void NameLookup::Finish(bool found, std::uint32_t address) {
  CPlainGuard guard(m_lock);
  m_address = address;
  m_state = found ? State::kFound : State::kNotFound;
  m_finished.notify_all();
}

std::shared_ptr<NameLookup> StartNameLookup(const std::string& host) {
  PendingLookups& pending = Pending();
  std::lock_guard<std::mutex> lock(pending.mutex);
  std::uint32_t unused = 0;
  for (auto it = pending.byName.begin(); it != pending.byName.end();) {
    if (it->second->Wait(0, unused) == NameLookup::State::kPending) {
      ++it;
    } else {
      it = pending.byName.erase(it);
    }
  }
  const auto found = pending.byName.find(host);
  if (found != pending.byName.end()) return found->second;
  if (pending.byName.size() >= kMaxPendingLookups) return nullptr;
  std::shared_ptr<NameLookup> lookup;
  try {
    lookup = std::make_shared<NameLookup>();
    pending.byName[host] = lookup;
  } catch (...) {
    return nullptr;
  }
  const Resolver test = g_testResolver.load();
  const Resolver resolver = test != nullptr ? test : &ResolveIPv4;
  try {
    std::thread([lookup, resolver, host] {
      std::uint32_t address = 0;
      bool found = false;
      try {
        found = resolver(host, address);
      } catch (...) {
        // Nothing may leave a thread's entry routine.
      }
      lookup->Finish(found, address);
    }).detach();
  } catch (...) {
    pending.byName.erase(host);  // no thread: nobody would ever finish it
    return nullptr;
  }
  return lookup;
}

void SetResolverForTesting(Resolver resolver) { g_testResolver.store(resolver); }

}  // namespace platform
}  // namespace quorvel
