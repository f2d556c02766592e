// CEventConsumerList: the event receiver's consumers by event type.
//
// For each event type the consumers in the order they were added, each at
// most once. The list shares ownership of its consumers only while it calls
// one: it keeps them as weak references, and a delivery holds a strong one
// for the length of its call. So nothing here ever waits for a consumer:
// Remove(c) only takes c out (a call into c already under way may still
// finish, one not yet begun is skipped), and c's owner may drop its share
// at any time; c is then freed by whichever ends last, its owner or the
// delivery. Deliver calls outside the lock, on a copy, so a consumer may add
// or remove consumers (itself included) from inside EventReceived.
//
// Add, Remove and Clear run on owner threads (also on the delivering thread,
// from inside EventReceived); Deliver on the Gateway client's receiver
// thread.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "infra/recursive_lock.h"
#include "session/event_receiver_client.h"

namespace quorvel {

class CEventConsumerList {
 public:
  using Consumer = std::shared_ptr<IEventReceiverClient>;

  CEventConsumerList() = default;
  CEventConsumerList(const CEventConsumerList&) = delete;
  CEventConsumerList& operator=(const CEventConsumerList&) = delete;

  // Ignored when the type is empty or the consumer null. Consumers freed
  // without Remove are forgotten here.
  void Add(const std::string& eventType, const Consumer& consumer);
  // Takes the consumer out of every type (lists that become empty stay).
  void Remove(const Consumer& consumer);
  // Drops every type and every consumer.
  void Clear();
  // Calls EventReceived on each consumer registered for eventType (exact,
  // case-sensitive), in the order they were added. A consumer removed
  // meanwhile is skipped.
  void Deliver(const std::string& eventType, const std::string& pid, const std::string& status);

 private:
  using Entry = std::weak_ptr<IEventReceiverClient>;

  // The consumer to call, or null when it is no longer registered for
  // eventType or already freed. Checked under m_lock so that a Remove
  // either comes first and prevents the call or lets it run.
  Consumer BeginCall(const std::string& eventType, const Entry& entry);

  CRecursiveLock m_lock;
  std::map<std::string, std::vector<Entry>> m_consumers GUARDED_BY(m_lock);
};

}  // namespace quorvel
