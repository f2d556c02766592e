#include "session/event_consumer_list.h"

#include <algorithm>

namespace quorvel {

namespace {

// Compares the control blocks, which stay while a weak reference does: no
// strong reference is taken, so no consumer is ever freed under the lock.
bool SameConsumer(const std::weak_ptr<IEventReceiverClient>& a,
                  const std::weak_ptr<IEventReceiverClient>& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace

void CEventConsumerList::Add(const std::string& eventType, const Consumer& consumer) {
  if (consumer == nullptr || eventType.empty()) return;
  const Entry entry(consumer);
  CLockGuard guard(m_lock);
  std::vector<Entry>& list = m_consumers[eventType];
  list.erase(std::remove_if(list.begin(), list.end(), [](const Entry& e) { return e.expired(); }),
             list.end());
  const auto same = [&](const Entry& e) { return SameConsumer(e, entry); };
  if (std::none_of(list.begin(), list.end(), same)) list.push_back(entry);
}

void CEventConsumerList::Remove(const Consumer& consumer) {
  if (consumer == nullptr) return;
  const Entry entry(consumer);
  CLockGuard guard(m_lock);
  for (auto& type : m_consumers) {
    std::vector<Entry>& list = type.second;
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const Entry& e) { return SameConsumer(e, entry); });
    if (it != list.end()) list.erase(it);
  }
}

void CEventConsumerList::Clear() {
  CLockGuard guard(m_lock);
  m_consumers.clear();
}

void CEventConsumerList::Deliver(const std::string& eventType, const std::string& pid,
                                 const std::string& status) {
  std::vector<Entry> copy;
  {
    CLockGuard guard(m_lock);
    auto it = m_consumers.find(eventType);
    if (it != m_consumers.end()) copy = it->second;
  }
  for (const Entry& entry : copy) {
    // Released outside the lock: this may be the last share of the consumer.
    const Consumer consumer = BeginCall(eventType, entry);
    if (consumer != nullptr) consumer->EventReceived(eventType, pid, status);
  }
}

CEventConsumerList::Consumer CEventConsumerList::BeginCall(const std::string& eventType,
                                                           const Entry& entry) {
  CLockGuard guard(m_lock);
  auto it = m_consumers.find(eventType);
  if (it == m_consumers.end()) return nullptr;
  const auto same = [&](const Entry& e) { return SameConsumer(e, entry); };
  if (std::none_of(it->second.begin(), it->second.end(), same)) return nullptr;
  return entry.lock();
}

}  // namespace quorvel
