#include "capability_sink.h"

#include <string>

namespace strevon {
namespace host {

namespace {
std::string Text(const char* s) { return s ? s : "(null)"; }
}  // namespace

class CapabilityResultSink::InfoItem : public quorvel::ipcapture::ICapabilityInfoItem {
 public:
  InfoItem(CapabilityResultSink& sink, std::uint32_t index) : m_sink(sink), m_index(index) {}
  void SetValue(const char* value) override {
    {
      std::lock_guard<std::mutex> lock(m_sink.m_mutex);
      m_sink.m_infoItems[m_index] = value ? value : "";
    }
    m_sink.Record("InfoItem " + std::to_string(m_index) + " " + Text(value));
  }

 private:
  CapabilityResultSink& m_sink;
  std::uint32_t m_index;
};

class CapabilityResultSink::Parameter : public quorvel::ipcapture::ICapabilityParameter {
 public:
  Parameter(CapabilityResultSink& sink, std::uint32_t index) : m_sink(sink), m_index(index) {}
  void SetValue(const char* value) override {
    Update([&](CapabilityParameter& p) { p.value = value ? value : ""; });
    m_sink.Record("SetValue " + Text(value));
  }
  void SetPerObject(std::uint32_t perObject) override {
    Update([&](CapabilityParameter& p) { p.perObject = perObject; });
    m_sink.Record("SetPerObject " + std::to_string(perObject));
  }
  void SetName(const char* name) override {
    Update([&](CapabilityParameter& p) { p.name = name ? name : ""; });
    m_sink.Record("SetName " + Text(name));
  }
  void SetOption(std::uint32_t option) override {
    Update([&](CapabilityParameter& p) { p.option = option; });
    m_sink.Record("SetOption " + std::to_string(option));
  }

 private:
  template <typename F>
  void Update(F f) {
    std::lock_guard<std::mutex> lock(m_sink.m_mutex);
    CapabilityParameter& p = m_sink.m_parameters[m_index];
    p.index = m_index;
    f(p);
  }
  CapabilityResultSink& m_sink;
  std::uint32_t m_index;
};

class CapabilityResultSink::ResolutionList : public quorvel::ipcapture::ICapabilityResolutionList {
 public:
  explicit ResolutionList(CapabilityResultSink& sink) : m_sink(sink) {}
  void AddResolution(const char* text, std::uint32_t width, std::uint32_t height,
                     std::uint32_t intervalMs) override {
    {
      std::lock_guard<std::mutex> lock(m_sink.m_mutex);
      m_sink.m_resolutions.push_back(CapabilityResolution{text ? text : "", width, height, intervalMs});
    }
    m_sink.Record("AddResolution " + Text(text) + " " + std::to_string(width) + " " +
                  std::to_string(height) + " " + std::to_string(intervalMs));
  }

 private:
  CapabilityResultSink& m_sink;
};

class CapabilityResultSink::FrameIntervalList
    : public quorvel::ipcapture::ICapabilityFrameIntervalList {
 public:
  explicit FrameIntervalList(CapabilityResultSink& sink) : m_sink(sink) {}
  void SetDefaultInterval(std::uint32_t intervalMs) override {
    {
      std::lock_guard<std::mutex> lock(m_sink.m_mutex);
      m_sink.m_defaultInterval = intervalMs;
    }
    m_sink.Record("SetDefaultInterval " + std::to_string(intervalMs));
  }
  void AddInterval(std::uint32_t intervalMs) override {
    {
      std::lock_guard<std::mutex> lock(m_sink.m_mutex);
      m_sink.m_intervals.push_back(intervalMs);
    }
    m_sink.Record("AddInterval " + std::to_string(intervalMs));
  }

 private:
  CapabilityResultSink& m_sink;
};

CapabilityResultSink::CapabilityResultSink()
    : m_resolutionList(std::make_unique<ResolutionList>(*this)),
      m_intervalList(std::make_unique<FrameIntervalList>(*this)) {}

CapabilityResultSink::~CapabilityResultSink() = default;

void CapabilityResultSink::SetCapability(std::uint32_t id, std::uint32_t value) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_capabilities[id] = value;
  }
  Record("SetCapability " + std::to_string(id) + " " + std::to_string(value));
}

void CapabilityResultSink::SetDeviceName(const char* name) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deviceName = name ? name : "";
  }
  Record("SetDeviceName " + Text(name));
}

quorvel::ipcapture::ICapabilityInfoItem* CapabilityResultSink::GetInfoItem(std::uint32_t index) {
  Record("GetInfoItem " + std::to_string(index));
  std::lock_guard<std::mutex> lock(m_mutex);
  m_infoObjects.push_back(std::make_unique<InfoItem>(*this, index));
  return m_infoObjects.back().get();
}

quorvel::ipcapture::ICapabilityParameter* CapabilityResultSink::AddParameter(std::uint32_t index) {
  Record("AddParameter " + std::to_string(index));
  std::lock_guard<std::mutex> lock(m_mutex);
  m_parameters[index].index = index;
  m_parameterObjects.push_back(std::make_unique<Parameter>(*this, index));
  return m_parameterObjects.back().get();
}

quorvel::ipcapture::ICapabilityResolutionList* CapabilityResultSink::GetResolutionList() {
  Record("GetResolutionList");
  return m_resolutionList.get();
}

quorvel::ipcapture::ICapabilityFrameIntervalList* CapabilityResultSink::GetFrameIntervalList(
    std::uint32_t kind) {
  Record("GetFrameIntervalList " + std::to_string(kind));
  return m_intervalList.get();
}

std::string CapabilityResultSink::DeviceName() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_deviceName;
}

std::map<std::uint32_t, std::uint32_t> CapabilityResultSink::Capabilities() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_capabilities;
}

std::map<std::uint32_t, std::string> CapabilityResultSink::InfoItems() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_infoItems;
}

std::vector<CapabilityParameter> CapabilityResultSink::Parameters() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<CapabilityParameter> out;
  for (const auto& entry : m_parameters) out.push_back(entry.second);
  return out;
}

std::vector<CapabilityResolution> CapabilityResultSink::Resolutions() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_resolutions;
}

std::vector<std::uint32_t> CapabilityResultSink::FrameIntervals() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_intervals;
}

std::uint32_t CapabilityResultSink::DefaultFrameInterval() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_defaultInterval;
}

std::vector<std::string> CapabilityResultSink::CustomParameters() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::string> out;
  std::uint32_t expected = 1;
  for (const auto& entry : m_parameters) {
    if (entry.first != expected) break;  // the host keeps a gap-free list
    out.push_back(entry.second.value);
    ++expected;
  }
  return out;
}

}  // namespace host
}  // namespace strevon
