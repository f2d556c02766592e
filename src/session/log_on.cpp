#include "session/log_on.h"

#include <new>

#include "gateway/client_message.h"
#include "infra/device_info.h"
#include "infra/text_helpers.h"
#include "infra/xml_parser.h"
#include "session/log_on_digest.h"
#include "session/reply_wait.h"

namespace quorvel {

namespace {

const char kAuthenticate[] = "user/authenticate";
const char kLogon[] = "user/logon";
const char kLogoff[] = "user/logoff";

}  // namespace

CLogOn::CLogOn(CGWClient* client) : m_client(client), m_replyEvent(true) {
  if (m_client != nullptr) {
    m_client->RegisterReceiver(std::string(kAuthenticate) + ";" + kLogon + ";" + kLogoff, this);
  }
}

CLogOn::~CLogOn() {
  // Waits for a dispatch into this object to finish.
  if (m_client != nullptr) m_client->UnregisterReceiver(this);
}

std::string CLogOn::UserAgent(int protocolLevel) {
  return FormatString("Gateway SDK / Kalmeno %d.0", protocolLevel > 2 ? 3 : 2);
}

int CLogOn::ResultForStatus(const std::string& status) {
  if (status == "LoggedIn") return kLoggedOn;
  if (status == "InvalidPassword" || status == "UserUnauthorized") return kCredentialsRefused;
  return kNotLoggedOn;
}

int CLogOn::LogOn(CEvent* abort) {
  if (m_client == nullptr) return kNotLoggedOn;
  const DEVICE_INFO device = m_client->Transport().GetDeviceInfo();
  if (!Authenticate(device, abort)) return kNotLoggedOn;
  std::string digest;
  ComputeDigest(device, digest);
  const std::string status = SendLogon(device, digest, abort);
  if (status.empty()) return kNotLoggedOn;
  return ResultForStatus(status);
}

bool CLogOn::Authenticate(const DEVICE_INFO& device, CEvent* abort) {
  ClientMessage* message = new (std::nothrow) ClientMessage(kAuthenticate);
  if (message != nullptr) {
    message->AddParam("user-agent", UserAgent(m_client->GetProtocolLevel()));
  }
  if (!QueueRequest(m_client, message)) return false;
  if (WaitForReply(m_replyEvent, device.connectTimeout, abort) != ReplyWait::kReplied) {
    return false;
  }
  m_replyEvent.Reset();
  return !GetDigestKey().empty();
}

void CLogOn::ComputeDigest(const DEVICE_INFO& device, std::string& out) const {
  out = ComputeLogOnDigest(device.password, GetDigestKey());
}

std::string CLogOn::SendLogon(const DEVICE_INFO& device, std::string digest, CEvent* abort) {
  const std::string& user = device.userName;
  if (!digest.empty() && !user.empty()) {
    ClientMessage* message = new (std::nothrow) ClientMessage(kLogon);
    if (message != nullptr) {
      message->AddParam("uid", user);
      message->AddParam("pass", digest);
    }
    if (QueueRequest(m_client, message)) {
      switch (WaitForReply(m_replyEvent, device.connectTimeout, abort)) {
        case ReplyWait::kReplied:
          m_replyEvent.Reset();
          break;
        case ReplyWait::kAborted:
          // Whatever an earlier log-on left must not count now.
          return std::string();
        case ReplyWait::kTimedOut:
          // The status an earlier reply left stands, as after a refused send.
          break;
      }
    }
  }
  return GetStatus();
}

void CLogOn::ProcessServerMessage(ServerMessage& message) {
  if (message.IsCommand(kAuthenticate)) {
    const std::string key = message.GetHeader("DigestKey");
    CPlainGuard guard(m_fieldsLock);
    m_digestKey = key;
  } else if (message.IsCommand(kLogon)) {
    const std::string status = message.GetHeader("Status");
    {
      CPlainGuard guard(m_fieldsLock);
      m_status = status;
    }
    ParseSession(message);
  } else {
    // A "user/logoff" reply: nobody waits for it.
    return;
  }
  m_replyEvent.Set();
}

bool CLogOn::ParseSession(ServerMessage& message) {
  std::vector<char> body;
  if (!message.GetBody(body)) return false;
  CXMLParser parser;
  if (!parser.LoadFromBuffer(body)) return false;
  // Leading integer, so "8 streams" gives 8; a missing node or attribute 0.
  // A count: a negative limit grants nothing, and one past 32 bits is as
  // good as unlimited rather than a wrapped small or negative number.
  const std::uint32_t max = ParseLeadingUint(parser.GetAttribute("max", "Session/RealtimeStreams"));
  std::vector<std::string> names = parser.GetTexts("Session/Profiles/Name");
  CPlainGuard guard(m_fieldsLock);
  m_maxRealtimeStreams = max;
  m_profileNames = std::move(names);
  return true;
}

std::uint32_t CLogOn::GetMaxRealtimeStreams() const {
  CPlainGuard guard(m_fieldsLock);
  return m_maxRealtimeStreams;
}

std::vector<std::string> CLogOn::GetProfileNames() const {
  CPlainGuard guard(m_fieldsLock);
  return m_profileNames;
}

std::string CLogOn::GetStatus() const {
  CPlainGuard guard(m_fieldsLock);
  return m_status;
}

std::string CLogOn::GetDigestKey() const {
  CPlainGuard guard(m_fieldsLock);
  return m_digestKey;
}

}  // namespace quorvel
