#include "session/event_consumer_list.h"

#include <algorithm>

namespace quorvel {

namespace {

// Compares the control blocks, which stay while a weak reference does: no
// strong reference is taken, so no consumer is ever freed under the lock.
template <typename List, typename Entry>
auto Find(List& list, const Entry& entry) {
  return std::find_if(list.begin(), list.end(), [&](const Entry& e) {
    return !e.owner_before(entry) && !entry.owner_before(e);
  });
}

}  // namespace

void CEventConsumerList::Add(const std::string& eventType, const Consumer& consumer) {
  if (consumer == nullptr || eventType.empty()) return;
  const Entry entry(consumer);
  CLockGuard guard(m_lock);
  std::vector<Entry>& list = m_consumers[eventType];
  list.erase(std::remove_if(list.begin(), list.end(), [](const Entry& e) { return e.expired(); }),
             list.end());
  if (Find(list, entry) == list.end()) list.push_back(entry);
}

void CEventConsumerList::Remove(const Consumer& consumer) {
  if (consumer == nullptr) return;
  const Entry entry(consumer);
  CLockGuard guard(m_lock);
  for (auto& type : m_consumers) {
    std::vector<Entry>& list = type.second;
    auto it = Find(list, entry);
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
  if (Find(it->second, entry) == it->second.end()) return nullptr;
  return entry.lock();
}

}  // namespace quorvel
