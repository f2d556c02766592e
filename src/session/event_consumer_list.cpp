#include "session/event_consumer_list.h"

#include <algorithm>

namespace quorvel {

void CEventConsumerList::Add(const std::string& eventType, IEventReceiverClient* consumer) {
  if (consumer == nullptr || eventType.empty()) return;
  CLockGuard guard(m_lock);
  std::vector<IEventReceiverClient*>& list = m_consumers[eventType];
  if (std::find(list.begin(), list.end(), consumer) == list.end()) list.push_back(consumer);
}

void CEventConsumerList::Remove(IEventReceiverClient* consumer) {
  if (consumer == nullptr) return;
  {
    CLockGuard guard(m_lock);
    for (auto& entry : m_consumers) {
      std::vector<IEventReceiverClient*>& list = entry.second;
      auto it = std::find(list.begin(), list.end(), consumer);
      if (it != list.end()) list.erase(it);
    }
  }
  m_calls.WaitIdle(consumer);
}

void CEventConsumerList::Clear() {
  CLockGuard guard(m_lock);
  m_consumers.clear();
}

void CEventConsumerList::Deliver(const std::string& eventType, const std::string& pid,
                                 const std::string& status) {
  std::vector<IEventReceiverClient*> copy;
  {
    CLockGuard guard(m_lock);
    auto it = m_consumers.find(eventType);
    if (it != m_consumers.end()) copy = it->second;
  }
  for (IEventReceiverClient* consumer : copy) {
    if (consumer == nullptr || !BeginCall(eventType, consumer)) continue;
    // Ends the call also when the consumer throws, so that its Remove
    // cannot wait forever.
    CCallTracker::Scope scope(m_calls, consumer);
    consumer->EventReceived(eventType, pid, status);
  }
}

bool CEventConsumerList::IsRegistered(const std::string& eventType,
                                      IEventReceiverClient* consumer) const {
  auto it = m_consumers.find(eventType);
  return it != m_consumers.end() &&
         std::find(it->second.begin(), it->second.end(), consumer) != it->second.end();
}

bool CEventConsumerList::BeginCall(const std::string& eventType, IEventReceiverClient* consumer) {
  CLockGuard guard(m_lock);
  if (!IsRegistered(eventType, consumer)) return false;
  m_calls.Enter(consumer);
  return true;
}

}  // namespace quorvel
