// CEventConsumerList: the event receiver's consumers by event type, and the
// bookkeeping that lets a consumer be destroyed safely.
//
// For each event type the consumers in the order they were added, each at
// most once; the consumers are not owned. Deliver calls them outside the
// lock, on a copy, so a consumer may add or remove consumers (itself
// included) from inside EventReceived.
//
// Destruction rule: once Remove(c) has returned, no call into c is running
// or will start, so the owner may destroy c. Remove therefore waits for a
// delivery already running into c on another thread. It does not wait for
// one running on the calling thread (c removing itself, or being removed by
// another consumer, from inside EventReceived), which would never end.
// Clear drops every consumer without waiting; a consumer it dropped is still
// waited for by its own Remove.
//
// Add, Remove and Clear run on owner threads (Remove also on the delivering
// thread); Deliver on the Gateway client's receiver thread.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "infra/call_tracker.h"
#include "infra/recursive_lock.h"
#include "session/event_receiver_client.h"

namespace quorvel {

class CEventConsumerList {
 public:
  CEventConsumerList() = default;
  CEventConsumerList(const CEventConsumerList&) = delete;
  CEventConsumerList& operator=(const CEventConsumerList&) = delete;

  // Ignored when the type is empty or the consumer null.
  void Add(const std::string& eventType, IEventReceiverClient* consumer);
  // Removes the consumer from every type (lists that become empty stay),
  // then waits as described above.
  void Remove(IEventReceiverClient* consumer);
  // Drops every type and every consumer.
  void Clear();
  // Calls EventReceived on each consumer registered for eventType (exact,
  // case-sensitive), in the order they were added. A consumer removed
  // meanwhile is skipped.
  void Deliver(const std::string& eventType, const std::string& pid, const std::string& status);

 private:
  // REQUIRES m_lock held.
  bool IsRegistered(const std::string& eventType, IEventReceiverClient* consumer) const;
  // Marks a call into consumer as running, but only while it is still
  // registered for eventType; checked and marked under m_lock so that a
  // Remove either sees the mark or prevents the call.
  bool BeginCall(const std::string& eventType, IEventReceiverClient* consumer);

  CRecursiveLock m_lock;
  // Guarded by m_lock.
  std::map<std::string, std::vector<IEventReceiverClient*>> m_consumers;

  // Its lock is taken after m_lock when both are held.
  CCallTracker m_calls;
};

}  // namespace quorvel
