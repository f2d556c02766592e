#include "gateway_simulator.h"

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <thread>

#include "sim_connection.h"
#include "sim_context.h"
#include "sim_socket.h"

namespace strevon {
namespace sim {

class GatewaySimulator::Impl {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Impl(const Scenario& scenario)
      : context(scenario), toggle_ms(scenario.input_toggle_ms) {}

  void ServiceLoop();
  void ServicePass();
  void AcceptOne();
  void ToggleInputs();
  void ReapFinished();
  std::size_t Deliver(const Injection& injection, std::uint64_t connection);

  SimContext context;
  WakeFd wake;
  std::atomic<bool> stop{false};
  std::atomic<int> toggle_ms;

  mutable std::mutex mu;
  // guarded by mu
  std::vector<std::unique_ptr<SimConnection>> connections;
  bool running = false;
  std::uint16_t port = 0;
  bool refusing = false;
  RefuseMode refuse_mode = RefuseMode::kCloseListener;
  Clock::time_point refuse_until;
  std::thread service;  // started and joined under the Start/Stop protocol below

  // service thread only (and Start/Stop while it is not running)
  UniqueFd listener;
  std::uint64_t next_id = 1;
  Clock::time_point next_toggle = Clock::time_point::max();
};

void GatewaySimulator::Impl::ServiceLoop() {
  while (!stop.load()) {
    try {
      ServicePass();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "sim: service thread: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "sim: service thread: unknown failure\n");
    }
  }
}

void GatewaySimulator::Impl::ServicePass() {
  const auto now = Clock::now();
  bool refuse_now = false;
  RefuseMode mode = RefuseMode::kCloseListener;
  std::uint16_t bound = 0;
  {
    std::lock_guard<std::mutex> lock(mu);
    if (refusing && now >= refuse_until) refusing = false;
    refuse_now = refusing;
    mode = refuse_mode;
    bound = port;
  }
  if (refuse_now && mode == RefuseMode::kCloseListener && listener.Valid()) {
    listener.Reset();
  } else if (!refuse_now && !listener.Valid()) {
    std::string error;
    listener = ListenLoopback(bound, nullptr, &error);
    if (!listener.Valid()) std::fprintf(stderr, "sim: cannot reopen port %u: %s\n", bound, error.c_str());
  }

  const int period = toggle_ms.load();
  if (period <= 0) {
    next_toggle = Clock::time_point::max();
  } else if (next_toggle == Clock::time_point::max()) {
    next_toggle = now + std::chrono::milliseconds(period);
  } else if (now >= next_toggle) {
    next_toggle = now + std::chrono::milliseconds(period);
    ToggleInputs();
  }
  ReapFinished();

  pollfd fds[2] = {{wake.Get(), POLLIN, 0}, {listener.Valid() ? listener.Get() : -1, POLLIN, 0}};
  const int ready = ::poll(fds, 2, 20);
  if (ready <= 0) return;
  if ((fds[0].revents & POLLIN) != 0) wake.Drain();
  if (listener.Valid() && (fds[1].revents & POLLIN) != 0) AcceptOne();
}

void GatewaySimulator::Impl::AcceptOne() {
  UniqueFd fd(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!fd.Valid()) return;
  bool reset = false;
  {
    std::lock_guard<std::mutex> lock(mu);
    reset = refusing && refuse_mode == RefuseMode::kAcceptAndReset;
  }
  if (reset) {
    ArmResetOnClose(fd.Get());
    return;  // closing fd resets the connection
  }
  auto conn = std::make_unique<SimConnection>(next_id++, std::move(fd), &context);
  SimConnection* started = conn.get();
  std::size_t active = 0;
  {
    // Listed before its thread runs, so that an injection made as soon as a
    // client sees the first reply reaches the connection.
    std::lock_guard<std::mutex> lock(mu);
    connections.push_back(std::move(conn));
    active = connections.size();
  }
  if (!started->Start()) {
    std::fprintf(stderr, "sim: cannot start a connection thread\n");
    return;  // Start marked it finished; the next pass reaps it
  }
  context.CountConnection();
  context.SetActiveConnections(active);
}

void GatewaySimulator::Impl::ToggleInputs() {
  const auto scenario = context.GetScenario();
  for (const auto& profile : scenario->profiles) {
    for (const auto& input : profile.inputs) {
      const bool on = context.ToggleIo(input.pid);
      Injection event;
      event.kind = InjectionKind::kEvent;
      event.text = "IOState";
      event.text2 = input.pid;
      event.text3 = on ? "On" : "Off";
      Deliver(event, 0);
    }
  }
}

void GatewaySimulator::Impl::ReapFinished() {
  std::vector<std::unique_ptr<SimConnection>> done;
  std::size_t active = 0;
  {
    std::lock_guard<std::mutex> lock(mu);
    for (auto it = connections.begin(); it != connections.end();) {
      if ((*it)->Finished()) {
        done.push_back(std::move(*it));
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
    active = connections.size();
  }
  if (done.empty()) return;
  done.clear();  // joins the finished threads outside the lock
  context.SetActiveConnections(active);
}

std::size_t GatewaySimulator::Impl::Deliver(const Injection& injection, std::uint64_t connection) {
  std::lock_guard<std::mutex> lock(mu);
  std::size_t count = 0;
  for (auto& c : connections) {
    if (c->Finished() || (connection != 0 && c->Id() != connection)) continue;
    c->Post(injection);
    ++count;
  }
  return count;
}

// ------------------------------------------------------------------ public

GatewaySimulator::GatewaySimulator(const Scenario& scenario) : impl_(std::make_unique<Impl>(scenario)) {}

GatewaySimulator::~GatewaySimulator() { Stop(); }

bool GatewaySimulator::Start(std::uint16_t port, std::string* error) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->running) {
    if (error != nullptr) *error = "already running";
    return false;
  }
  if (!impl_->wake.Valid()) {
    if (error != nullptr) *error = "eventfd failed";
    return false;
  }
  std::uint16_t bound = 0;
  UniqueFd listener = ListenLoopback(port, &bound, error);
  if (!listener.Valid()) return false;
  impl_->listener = std::move(listener);
  impl_->port = bound;
  impl_->stop.store(false);
  impl_->refusing = false;
  impl_->next_toggle = Impl::Clock::time_point::max();
  try {
    impl_->service = std::thread([this] { impl_->ServiceLoop(); });
  } catch (const std::exception& e) {
    impl_->listener.Reset();
    if (error != nullptr) *error = e.what();
    return false;
  }
  impl_->running = true;
  return true;
}

void GatewaySimulator::Stop() {
  std::thread service;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->running) return;
    impl_->running = false;
    service = std::move(impl_->service);
  }
  impl_->stop.store(true);
  impl_->wake.Signal();
  if (service.joinable()) service.join();
  std::vector<std::unique_ptr<SimConnection>> connections;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    connections.swap(impl_->connections);
  }
  for (auto& c : connections) c->RequestStop();
  connections.clear();  // each destructor joins its thread
  impl_->listener.Reset();
  impl_->context.SetActiveConnections(0);
}

bool GatewaySimulator::IsRunning() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->running;
}

std::uint16_t GatewaySimulator::Port() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->port;
}

void GatewaySimulator::SetScenario(const Scenario& scenario) {
  impl_->context.SetScenario(scenario);
  SetInputTogglePeriod(Millis(scenario.input_toggle_ms));
}

Scenario GatewaySimulator::GetScenario() const {
  Scenario s = *impl_->context.GetScenario();
  s.faults = impl_->context.Faults();
  s.level2 = impl_->context.Level2();
  s.input_toggle_ms = impl_->toggle_ms.load();
  return s;
}

FaultSettings GatewaySimulator::GetFaults() const { return impl_->context.Faults(); }

void GatewaySimulator::SetFaults(const FaultSettings& faults) {
  impl_->context.UpdateFaults([&](FaultSettings& f) { f = faults; });
}

void GatewaySimulator::UpdateFaults(const std::function<void(FaultSettings&)>& change) {
  impl_->context.UpdateFaults(change);
}

void GatewaySimulator::SetLevel2(bool on) { impl_->context.SetLevel2(on); }

void GatewaySimulator::SetInputTogglePeriod(Millis period) {
  impl_->toggle_ms.store(static_cast<int>(period.count()));
  impl_->wake.Signal();
}

bool GatewaySimulator::OpenRequestsLog(const std::string& path, std::string* error) {
  return impl_->context.OpenRequestsLog(path, error);
}

void GatewaySimulator::SetStalled(std::uint32_t cid, bool stalled) {
  UpdateFaults([&](FaultSettings& f) {
    if (stalled) f.stalled.insert(cid);
    else f.stalled.erase(cid);
  });
}

void GatewaySimulator::SetStreamStatus(std::uint32_t cid, const std::string& status) {
  UpdateFaults([&](FaultSettings& f) {
    if (status.empty() || status == "OK") f.status.erase(cid);
    else f.status[cid] = status;
  });
}

void GatewaySimulator::SetNeverAnswer(const std::string& command, bool never) {
  UpdateFaults([&](FaultSettings& f) {
    if (never) f.never_answer.insert(command);
    else f.never_answer.erase(command);
  });
}

void GatewaySimulator::SetNeverTakeover(const std::string& pid, bool never) {
  UpdateFaults([&](FaultSettings& f) {
    if (never) f.never_takeover.insert(pid);
    else f.never_takeover.erase(pid);
  });
}

void GatewaySimulator::SetReplyDelay(const std::string& command, Millis delay) {
  UpdateFaults([&](FaultSettings& f) {
    if (delay.count() > 0) f.delay_ms[command] = static_cast<int>(delay.count());
    else f.delay_ms.erase(command);
  });
}

void GatewaySimulator::SetXmlFault(const std::string& command, XmlFault fault) {
  UpdateFaults([&](FaultSettings& f) {
    if (fault == XmlFault::kNone) f.xml.erase(command);
    else f.xml[command] = fault;
  });
}

void GatewaySimulator::SetCidFault(CidFault fault) {
  UpdateFaults([&](FaultSettings& f) { f.cid = fault; });
}

void GatewaySimulator::SetOmittedHeaders(OmittedHeaders omitted) {
  UpdateFaults([&](FaultSettings& f) { f.omit_headers = omitted; });
}

void GatewaySimulator::SetSlowWriter(bool on) {
  UpdateFaults([&](FaultSettings& f) { f.slow_writer = on; });
}

void GatewaySimulator::SetPingInterval(Millis interval) {
  UpdateFaults([&](FaultSettings& f) { f.ping_interval_ms = static_cast<int>(interval.count()); });
}

void GatewaySimulator::SetResetOn(const std::string& command, bool on) {
  UpdateFaults([&](FaultSettings& f) {
    if (on) f.reset_on.insert(command);
    else f.reset_on.erase(command);
  });
}

std::size_t GatewaySimulator::Inject(const Injection& injection, std::uint64_t connection) {
  return impl_->Deliver(injection, connection);
}

namespace {
Injection Make(InjectionKind kind, std::uint64_t number = 0, const std::string& text = std::string()) {
  Injection in;
  in.kind = kind;
  in.number = number;
  in.text = text;
  return in;
}
}  // namespace

std::size_t GatewaySimulator::ResetConnections(std::uint64_t c) { return Inject(Make(InjectionKind::kReset), c); }
std::size_t GatewaySimulator::CloseConnections(std::uint64_t c) { return Inject(Make(InjectionKind::kClose), c); }
std::size_t GatewaySimulator::ResetAfterFrames(std::uint64_t frames, std::uint64_t c) {
  return Inject(Make(InjectionKind::kResetAfterFrames, frames), c);
}
std::size_t GatewaySimulator::ResetAfter(Millis delay, std::uint64_t c) {
  return Inject(Make(InjectionKind::kResetAfterMs, static_cast<std::uint64_t>(delay.count())), c);
}
std::size_t GatewaySimulator::ResetMidHeader(std::uint64_t c) { return Inject(Make(InjectionKind::kResetMidHeader), c); }
std::size_t GatewaySimulator::ResetMidBody(std::uint64_t c) { return Inject(Make(InjectionKind::kResetMidBody), c); }
std::size_t GatewaySimulator::SendGarbage(std::size_t bytes, std::uint64_t c) {
  return Inject(Make(InjectionKind::kGarbage, bytes), c);
}
std::size_t GatewaySimulator::SendHeaderLength(std::uint32_t length, std::uint64_t c) {
  return Inject(Make(InjectionKind::kHeaderLength, length), c);
}
std::size_t GatewaySimulator::SendBodyTooLong(std::uint64_t c) { return Inject(Make(InjectionKind::kBodyTooLong), c); }
std::size_t GatewaySimulator::SendPing(std::uint64_t c) { return Inject(Make(InjectionKind::kPing), c); }
std::size_t GatewaySimulator::SendPingFlood(std::size_t count, std::uint64_t c) {
  return Inject(Make(InjectionKind::kPingFlood, count), c);
}
std::size_t GatewaySimulator::SendValidationRequest(const std::string& command, std::uint64_t c) {
  return Inject(Make(InjectionKind::kValidationRequest, 0, command), c);
}
std::size_t GatewaySimulator::SendUnsolicited(std::uint32_t cid, std::uint64_t c) {
  std::size_t n = Inject(Make(InjectionKind::kUnsolicitedStream, cid), c);
  Injection event = Make(InjectionKind::kUnsolicitedEvent, 0, "IOState");
  event.text2 = "unknown-pid";
  event.text3 = "On";
  Inject(event, c);
  return n;
}

std::size_t GatewaySimulator::PushEvent(const std::string& type, const std::string& pid, const std::string& status) {
  Injection in = Make(InjectionKind::kEvent, 0, type);
  in.text2 = pid;
  in.text3 = status;
  return Inject(in, 0);
}

std::size_t GatewaySimulator::SetInput(const std::string& pid, bool on) {
  impl_->context.SetIoState(pid, on);
  return PushEvent("IOState", pid, on ? "On" : "Off");
}

bool GatewaySimulator::IoState(const std::string& pid) const { return impl_->context.IoState(pid); }

void GatewaySimulator::RefuseConnections(Millis duration, RefuseMode mode) {
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->refusing = duration.count() > 0;
    impl_->refuse_mode = mode;
    impl_->refuse_until = Impl::Clock::now() + duration;
  }
  impl_->wake.Signal();
}

std::vector<RequestRecord> GatewaySimulator::Requests() const { return impl_->context.Requests(); }

std::size_t GatewaySimulator::CountRequests(const std::string& command) const {
  std::size_t n = 0;
  for (const auto& r : impl_->context.Requests()) {
    if (r.command == command) ++n;
  }
  return n;
}

void GatewaySimulator::ClearRequests() { impl_->context.ClearRequests(); }

std::optional<RequestRecord> GatewaySimulator::WaitForRequest(
    const std::string& command, const std::function<bool(const RequestRecord&)>& pred, Millis timeout,
    std::uint64_t from_index) const {
  return impl_->context.WaitForRequest(command, pred, timeout, from_index);
}

std::uint64_t GatewaySimulator::ConnectionsAccepted() const { return impl_->context.ConnectionsAccepted(); }
std::vector<std::string> GatewaySimulator::DigestKeysSent() const { return impl_->context.DigestKeys(); }
std::size_t GatewaySimulator::ActiveConnections() const { return impl_->context.ActiveConnections(); }

std::vector<std::uint64_t> GatewaySimulator::ConnectionIds() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  std::vector<std::uint64_t> ids;
  for (const auto& c : impl_->connections) {
    if (!c->Finished()) ids.push_back(c->Id());
  }
  return ids;
}

std::uint64_t GatewaySimulator::FramesSent(std::uint32_t cid) const { return impl_->context.FramesSent(cid); }
std::uint64_t GatewaySimulator::TotalFramesSent() const { return impl_->context.TotalFrames(); }

bool GatewaySimulator::WaitForFrames(std::uint32_t cid, std::uint64_t count, Millis timeout) const {
  return impl_->context.WaitForFrames(cid, count, timeout);
}

bool GatewaySimulator::WaitForConnectionsAccepted(std::uint64_t count, Millis timeout) const {
  return impl_->context.WaitForAccepted(count, timeout);
}

bool GatewaySimulator::WaitForActiveConnections(std::size_t count, Millis timeout) const {
  return impl_->context.WaitForActive(count, timeout);
}

}  // namespace sim
}  // namespace strevon
