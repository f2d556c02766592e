#include "session/gateway_io.h"

#include <atomic>
#include <map>
#include <new>
#include <utility>
#include <vector>

#include "core/camera_record.h"
#include "gateway/client_message.h"
#include "infra/recursive_lock.h"
#include "infra/tick_thread.h"

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

// The part of the I/O object that the receiver thread and the tick thread
// use, shared with them (see the header). The gate and the callback are
// atomics, so that no lock is ever held while the host is called; m_lock
// guards the input states only.
class CGatewayIO::CShared : public CTickThread, public IEventReceiverClient {
 public:
  CShared(IDriver* driver, std::shared_ptr<void> driverKeepAlive)
      : m_driver(driver), m_driverKeepAlive(std::move(driverKeepAlive)) {}
  // Runs where the last share goes; on the tick thread itself, Stop lets the
  // ending thread go.
  ~CShared() override { Stop(kStopTimeoutMs); }

  void SetCallback(ICaptureIOCallback* callback) { m_callback.store(callback); }
  bool HasCallback() const { return m_callback.load() != nullptr; }
  void OpenGate() { m_gateOpen.store(true); }
  void CloseGate() { m_gateOpen.store(false); }

  void ResetStates() {
    CLockGuard guard(m_lock);
    m_inputStates.clear();
    if (m_driver == nullptr) return;
    for (const IORecord& input : m_driver->GetInputList()) m_inputStates[input.id] = kStateOff;
  }

  // After CloseGate. A tick that had not yet seen the gate closed raised
  // m_tickInHost before looking (both sequentially consistent), so a low
  // flag here means the thread will not call the host again and may be
  // waited for; a high one means it may be inside the host: not waited for.
  void StopTicks() { Stop(m_tickInHost.load() ? 0 : kStopTimeoutMs); }

  void EventReceived(const std::string& eventType, const std::string& pid,
                     const std::string& status) override {
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
    ICaptureIOCallback* callback = PassGate();
    if (callback == nullptr) return;
    callback->OnInputState(input->id, state);
    CLockGuard guard(m_lock);
    m_inputStates[input->id] = state;
  }

 protected:
  void OnTick() override {
    // The host is called outside the lock, on a copy: a host that calls back
    // into StartIO from its callback must not deadlock against the tick.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> states;
    {
      CLockGuard guard(m_lock);
      states.assign(m_inputStates.begin(), m_inputStates.end());
    }
    for (const auto& entry : states) {
      InHost inHost(m_tickInHost);
      ICaptureIOCallback* callback = PassGate();
      if (callback == nullptr) return;
      callback->OnInputState(entry.first, entry.second);
    }
  }

 private:
  // Raises a flag for the length of a scope, also when the host throws.
  class InHost {
   public:
    explicit InHost(std::atomic<bool>& flag) : m_flag(flag) { m_flag.store(true); }
    ~InHost() { m_flag.store(false); }
    InHost(const InHost&) = delete;
    InHost& operator=(const InHost&) = delete;

   private:
    std::atomic<bool>& m_flag;
  };

  // The callback to call now, or null when there is none or the gate is
  // closed.
  ICaptureIOCallback* PassGate() const {
    return m_gateOpen.load() ? m_callback.load() : nullptr;
  }

  // Constant after construction.
  IDriver* const m_driver;
  const std::shared_ptr<void> m_driverKeepAlive;

  std::atomic<ICaptureIOCallback*> m_callback{nullptr};
  // Open from StartIO to StopIO or destruction.
  std::atomic<bool> m_gateOpen{false};
  // True while the tick thread may be inside the host's callback.
  std::atomic<bool> m_tickInHost{false};

  CRecursiveLock m_lock;
  // Input id to state, walked in ascending id order.
  std::map<std::uint32_t, std::uint32_t> m_inputStates GUARDED_BY(m_lock);
};

CGatewayIO::CGatewayIO(IDriver* driver, CEventReceiver* eventReceiver, CGWClient* client,
                       std::weak_ptr<void> driverKeepAlive)
    : m_driver(driver),
      m_eventReceiver(eventReceiver),
      m_client(client),
      m_shared(std::make_shared<CShared>(driver, driverKeepAlive.lock())) {
  m_shared->SetKeepAlive(m_shared);
}

CGatewayIO::~CGatewayIO() { EndHostUse(); }

void CGatewayIO::EndHostUse() {
  m_shared->CloseGate();
  {
    // Once this block is over, Resubscribe cannot add the object again.
    CPlainGuard registration(m_registrationLock);
    m_started = false;
    if (m_eventReceiver != nullptr) m_eventReceiver->RemoveClient(m_shared);
  }
  m_shared->StopTicks();
}

bool CGatewayIO::SetIOCallback(ICaptureIOCallback* callback) {
  if (callback != nullptr) m_shared->SetCallback(callback);
  return m_shared->HasCallback();
}

bool CGatewayIO::StartIO() {
  IO_LOG("StartIO", "%s: Start IO");
  m_shared->ResetStates();
  if (!m_shared->Start("Gateway IO")) {
    IO_LOG("StartIO", "%s: ERROR Unable to start IO thread");
    return false;
  }
  m_shared->OpenGate();
  CPlainGuard registration(m_registrationLock);
  m_started = true;
  if (m_eventReceiver != nullptr) m_eventReceiver->AddClient(kIOStateEvent, m_shared);
  return true;
}

bool CGatewayIO::StopIO() {
  IO_LOG("StopIO", "%s: Stop IO");
  EndHostUse();
  return false;
}

void CGatewayIO::Resubscribe() {
  {
    CPlainGuard registration(m_registrationLock);
    if (!m_started || m_eventReceiver == nullptr) return;
    m_eventReceiver->AddClient(kIOStateEvent, m_shared);
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

std::uint32_t CGatewayIO::StateFromStatus(const std::string& status) {
  if (status == "On") return kStateOn;
  if (status == "Off") return kStateOff;
  return kStateOther;
}

#undef IO_LOG

}  // namespace quorvel
