#include "sim_context.h"

#include <nlohmann/json.hpp>

#include "frame_stamp.h"

namespace strevon {
namespace sim {

namespace {

void SeedIoStates(const Scenario& scenario, std::map<std::string, bool>* io) {
  for (const auto& p : scenario.profiles) {
    for (const auto& i : p.inputs) io->emplace(i.pid, i.on);
    for (const auto& o : p.outputs) io->emplace(o.pid, o.on);
  }
}

}  // namespace

SimContext::SimContext(const Scenario& scenario)
    : scenario_(std::make_shared<const Scenario>(scenario)),
      faults_(scenario.faults),
      level2_(scenario.level2) {
  SeedIoStates(scenario, &io_);
}

std::shared_ptr<const Scenario> SimContext::GetScenario() const {
  std::lock_guard<std::mutex> lock(mu_);
  return scenario_;
}

void SimContext::SetScenario(const Scenario& scenario) {
  std::lock_guard<std::mutex> lock(mu_);
  scenario_ = std::make_shared<const Scenario>(scenario);
  faults_ = scenario.faults;
  level2_ = scenario.level2;
  io_.clear();
  SeedIoStates(scenario, &io_);
}

FaultSettings SimContext::Faults() const {
  std::lock_guard<std::mutex> lock(mu_);
  return faults_;
}

void SimContext::UpdateFaults(const std::function<void(FaultSettings&)>& change) {
  std::lock_guard<std::mutex> lock(mu_);
  change(faults_);
}

bool SimContext::Level2() const {
  std::lock_guard<std::mutex> lock(mu_);
  return level2_;
}

void SimContext::SetLevel2(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  level2_ = on;
}

std::map<std::string, bool> SimContext::IoStates() const {
  std::lock_guard<std::mutex> lock(mu_);
  return io_;
}

bool SimContext::IoState(const std::string& pid) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = io_.find(pid);
  return it != io_.end() && it->second;
}

void SimContext::SetIoState(const std::string& pid, bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  io_[pid] = on;
}

bool SimContext::ToggleIo(const std::string& pid) {
  std::lock_guard<std::mutex> lock(mu_);
  bool& state = io_[pid];
  state = !state;
  return state;
}

RequestRecord SimContext::Record(std::uint64_t connection, const ParsedRequest& request) {
  RequestRecord rec;
  rec.connection = connection;
  rec.wall_time = std::chrono::system_clock::now();
  rec.mono_ns = MonotonicNs();
  rec.command = request.command;
  rec.params = request.params;
  rec.raw_text = request.raw_text;
  rec.well_formed = request.well_formed;
  {
    std::lock_guard<std::mutex> lock(mu_);
    rec.index = next_index_++;
    requests_.push_back(rec);
    if (log_.is_open()) {
      nlohmann::json line;
      line["index"] = rec.index;
      line["time_ms"] = std::chrono::duration_cast<std::chrono::milliseconds>(
                            rec.wall_time.time_since_epoch())
                            .count();
      line["mono_ns"] = rec.mono_ns;
      line["connection"] = rec.connection;
      line["command"] = rec.command;
      line["params"] = rec.params;
      line["raw"] = rec.raw_text;
      // Request text is arbitrary bytes; never let one bad byte stop the log.
      log_ << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
      log_.flush();
    }
  }
  changed_.notify_all();
  return rec;
}

std::vector<RequestRecord> SimContext::Requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

std::optional<RequestRecord> SimContext::WaitForRequest(
    const std::string& command, const std::function<bool(const RequestRecord&)>& pred,
    std::chrono::milliseconds timeout, std::uint64_t from_index) const {
  std::optional<RequestRecord> found;
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait_for(lock, timeout, [&] {
    for (const auto& rec : requests_) {
      if (rec.index < from_index || rec.command != command) continue;
      if (pred && !pred(rec)) continue;
      found = rec;
      return true;
    }
    return false;
  });
  return found;
}

void SimContext::ClearRequests() {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.clear();
}

bool SimContext::OpenRequestsLog(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  if (log_.is_open()) log_.close();
  log_.open(path, std::ios::out | std::ios::app);
  if (!log_.is_open()) {
    if (error != nullptr) *error = "cannot open " + path;
    return false;
  }
  return true;
}

void SimContext::CountFrames(std::uint32_t cid, std::uint64_t count) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    frames_[cid] += count;
    total_frames_ += count;
  }
  changed_.notify_all();
}

void SimContext::CountConnection() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++accepted_;
  }
  changed_.notify_all();
}

void SimContext::SetActiveConnections(std::size_t n) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    active_ = n;
  }
  changed_.notify_all();
}

std::uint64_t SimContext::FramesSent(std::uint32_t cid) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = frames_.find(cid);
  return it == frames_.end() ? 0 : it->second;
}

std::uint64_t SimContext::TotalFrames() const {
  std::lock_guard<std::mutex> lock(mu_);
  return total_frames_;
}

void SimContext::NoteDigestKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(mu_);
  digest_keys_.push_back(key);
}

std::vector<std::string> SimContext::DigestKeys() const {
  std::lock_guard<std::mutex> lock(mu_);
  return digest_keys_;
}

std::uint64_t SimContext::ConnectionsAccepted() const {
  std::lock_guard<std::mutex> lock(mu_);
  return accepted_;
}

std::size_t SimContext::ActiveConnections() const {
  std::lock_guard<std::mutex> lock(mu_);
  return active_;
}

bool SimContext::WaitForFrames(std::uint32_t cid, std::uint64_t count,
                               std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, timeout, [&] {
    auto it = frames_.find(cid);
    return it != frames_.end() && it->second >= count;
  });
}

bool SimContext::WaitForAccepted(std::uint64_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, timeout, [&] { return accepted_ >= count; });
}

bool SimContext::WaitForActive(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, timeout, [&] { return active_ == count; });
}

}  // namespace sim
}  // namespace strevon
