#include "session/gateway_io.h"

#include <new>
#include <utility>
#include <vector>

#include "gateway/client_message.h"

namespace quorvel {

namespace {

const char kIOStateEvent[] = "IOState";
constexpr std::uint32_t kStopTimeoutMs = 5000;

}  // namespace

// Every line of this class goes out at the debug level, errors included.
#define IO_LOG(method, format, ...)                                                  \
  do {                                                                               \
    if (m_driver != nullptr) {                                                       \
      m_driver->DebugMessage(LOG_DEBUG, format, "quorvel::CGatewayIO::" method,      \
                             ##__VA_ARGS__);                                         \
    }                                                                                \
  } while (0)

CGatewayIO::CGatewayIO(IDriver* driver, CEventReceiver* eventReceiver, CGWClient* client)
    : m_driver(driver), m_eventReceiver(eventReceiver), m_client(client) {}

CGatewayIO::~CGatewayIO() {
  // The tick thread reads the members below; it must be gone first.
  StopTicks();
  ClearStarted();
  if (m_eventReceiver != nullptr) m_eventReceiver->RemoveClient(this);
}

void CGatewayIO::ClearStarted() {
  // Once this returns, Resubscribe cannot add the object again.
  std::lock_guard<std::mutex> registration(m_registrationMutex);
  m_started = false;
}

bool CGatewayIO::SetIOCallback(ICaptureIOCallback* callback) {
  if (callback != nullptr) m_callback.store(callback);
  return m_callback.load() != nullptr;
}

bool CGatewayIO::StartIO() {
  IO_LOG("StartIO", "%s: Start IO");
  {
    CLockGuard guard(m_lock);
    m_inputStates.clear();
    if (m_driver != nullptr) {
      for (const IORecord& input : m_driver->GetInputList()) m_inputStates[input.id] = kStateOff;
    }
  }
  m_stopping.store(false);
  if (!Start("Gateway IO")) {
    IO_LOG("StartIO", "%s: ERROR Unable to start IO thread");
    return false;
  }
  std::lock_guard<std::mutex> registration(m_registrationMutex);
  m_started = true;
  if (m_eventReceiver != nullptr) m_eventReceiver->AddClient(kIOStateEvent, this);
  return true;
}

bool CGatewayIO::StopIO() {
  IO_LOG("StopIO", "%s: Stop IO");
  ClearStarted();
  // Outside the mutex: RemoveClient waits for a delivery into this object,
  // whose host callback may call StartIO or StopIO.
  if (m_eventReceiver != nullptr) m_eventReceiver->RemoveClient(this);
  StopTicks();
  return false;
}

void CGatewayIO::Resubscribe() {
  {
    std::lock_guard<std::mutex> registration(m_registrationMutex);
    if (!m_started || m_eventReceiver == nullptr) return;
    m_eventReceiver->AddClient(kIOStateEvent, this);
  }
  // The log reaches the host's sink: outside the mutex.
  IO_LOG("Resubscribe", "%s: Registered again for input events");
}

std::uint32_t CGatewayIO::GetInputCount() {
  return m_driver != nullptr ? m_driver->GetIOCounts().first : 0;
}

std::uint32_t CGatewayIO::GetOutputCount() {
  return m_driver != nullptr ? m_driver->GetIOCounts().second : 0;
}

void CGatewayIO::SetOutput(std::uint32_t outputIndex, int state) {
  const std::vector<IORecord>* outputs = m_driver != nullptr ? &m_driver->GetOutputList() : nullptr;
  if (outputs == nullptr || outputIndex >= outputs->size()) {
    IO_LOG("SetOutput", "%s: ERROR Output %u not found in the list", outputIndex);
    return;
  }
  const std::string pid = (*outputs)[outputIndex].pid;
  ClientMessage* message = new (std::nothrow) ClientMessage("switch/toggle");
  if (message == nullptr) {
    IO_LOG("SetOutput", "%s: ERROR Unable to create message");
    return;
  }
  // The Gateway toggles; the requested state has no parameter.
  message->AddParam("pid", pid);
  bool queued = false;
  if (m_client != nullptr) {
    queued = m_client->Send(message);
  } else {
    delete message;
  }
  if (queued) {
    IO_LOG("SetOutput", "%s: Output %u state was set to '%d'", outputIndex, state);
  } else {
    IO_LOG("SetOutput", "%s: ERROR Unable to send message for output %u", outputIndex);
  }
}

void CGatewayIO::EventReceived(const std::string& eventType, const std::string& pid,
                               const std::string& status) {
  if (eventType != kIOStateEvent) {
    IO_LOG("EventReceived", "%s: ERROR Received not IO event ('%s')", eventType.c_str());
    return;
  }
  IO_LOG("EventReceived", "%s: IO event (pid='%s' status='%s') received", pid.c_str(),
         status.c_str());
  const std::uint32_t state = StateFromStatus(status);
  const IORecord* input = nullptr;
  if (m_driver != nullptr) {
    for (const IORecord& record : m_driver->GetInputList()) {
      if (record.pid == pid) {
        input = &record;
        break;
      }
    }
  }
  if (input == nullptr) {
    IO_LOG("EventReceived", "%s: ERROR Input for pid '%s' not found", pid.c_str());
    return;
  }
  // Without a host to tell, the change is not kept either: the next tick
  // reports what the host last heard.
  ICaptureIOCallback* callback = m_callback.load();
  if (callback == nullptr) return;
  callback->OnInputState(input->id, state);
  CLockGuard guard(m_lock);
  m_inputStates[input->id] = state;
}

std::uint32_t CGatewayIO::StateFromStatus(const std::string& status) {
  if (status == "On") return kStateOn;
  if (status == "Off") return kStateOff;
  return kStateOther;
}

void CGatewayIO::OnTick() {
  // The host is called outside the lock, on a copy: a host that calls back
  // into StartIO from its callback must not deadlock against the tick.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> states;
  {
    CLockGuard guard(m_lock);
    states.assign(m_inputStates.begin(), m_inputStates.end());
  }
  for (const auto& entry : states) {
    if (m_stopping.load()) return;
    ICaptureIOCallback* callback = m_callback.load();
    if (callback != nullptr) callback->OnInputState(entry.first, entry.second);
  }
}

void CGatewayIO::StopTicks() {
  m_stopping.store(true);
  Stop(kStopTimeoutMs);
}

#undef IO_LOG

}  // namespace quorvel
