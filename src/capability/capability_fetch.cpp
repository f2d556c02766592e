#include "capability/capability_fetch.h"

#include <utility>

#include "capability/guarded_result_sink.h"

namespace quorvel {

namespace {

constexpr const char* kInvalidAddressText =
    "Failed to start capability fetching thread. Device address is invalid!";
constexpr const char* kInternalErrorText =
    "Failed to start capability fetching thread. Internal error occurs";
constexpr const char* kUnhandledExceptionText =
    "Failed to get camera properties. Unhandled exception occurred.";
constexpr const char* kSaveFailedText = "Failed to save capability query results";
constexpr const char* kFetchFailedText = "Failed to get camera properties";

}  // namespace

CCapabilityFetch::CCapabilityFetch(std::string address,
                                   std::shared_ptr<CBaseCameraProperties> properties,
                                   ipcapture::ICapabilityQueryNotify* notify,
                                   ipcapture::ICapabilityResultSink* sink)
    : m_address(std::move(address)),
      m_notify(notify),
      m_sink(sink),
      m_gate(std::make_shared<CHostCallGate>()),
      m_properties(std::move(properties)) {}

bool CCapabilityFetch::IsValidAddress(const std::string& address) {
  return address.find_first_of(kInvalidAddressCharacters) == std::string::npos;
}

std::string CCapabilityFetch::FetchFailureText(int status, const std::string& errorText) {
  std::string text = kFetchFailedText;
  switch (status) {
    case kStatusLogOnRefused:
      text += errorText.empty() ? ", login failed (invalid credentials)" : ": " + errorText;
      break;
    case kStatusUnreachable:
      text += ", device is offline or is located in unaccessible subnet";
      break;
    case kStatusFailed:
      if (!errorText.empty()) text += ": " + errorText;
      break;
    default:
      break;
  }
  return text;
}

void CCapabilityFetch::FetchCapabilities() {
  int status = kStatusFailed;
  std::string message;
  bool succeeded = false;
  std::shared_ptr<CBaseCameraProperties> properties = std::move(m_properties);

  if (!IsValidAddress(m_address)) {
    message = kInvalidAddressText;
    status = kStatusInvalidAddress;
  } else if (!properties || m_sink == nullptr) {
    message = kInternalErrorText;
  } else {
    bool fetched = false;
    bool threw = false;
    try {
      fetched = properties->Fetch(&status);
    } catch (...) {
      threw = true;
      message = kUnhandledExceptionText;
    }
    if (threw) {
      // The reason is set; there is nothing to save.
    } else if (!fetched) {
      message = FetchFailureText(status, properties->GetLastErrorText());
    } else {
      CGuardedResultSink sink(m_sink, m_gate);
      if (properties->Save(&sink)) {
        succeeded = true;
      } else {
        message = kSaveFailedText;
      }
    }
  }
  // The last holder destroys the properties, and with them their connection
  // to the Gateway.
  properties.reset();
  Notify(succeeded, status, message);
}

void CCapabilityFetch::Notify(bool succeeded, int status, const std::string& message) {
  if (m_notify == nullptr) return;
  CHostCallGate::Call call(*m_gate);
  if (!call.IsOpen()) return;
  if (succeeded) {
    m_notify->OnQueryCompleted();
  } else {
    m_notify->OnQueryFailed(status, message.c_str());
  }
}

}  // namespace quorvel
