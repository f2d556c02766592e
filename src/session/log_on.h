// CLogOn: logs the driver's user on at the Gateway after each connection.
//
// A challenge and response in two requests: "user/authenticate" announces
// the client software and returns a "DigestKey"; "user/logon" sends the user
// name and the SHA-1 digest of password and key (see log_on_digest.h), and
// the reply's "Status" says whether the server took it. That reply also
// carries the session limits: how many real-time streams the user may open
// and the names of the user's profiles.
//
// Owned beside its Gateway client (the capture driver's, or the device
// properties reader's), which must outlive it; registered with the client
// from construction to destruction. LogOn runs on the owner's thread and
// blocks for up to two reply waits of the client's connection time-out each;
// ProcessServerMessage runs on the client's receiver thread. The reply
// fields are written there and read by the owner, so they sit behind
// m_fieldsMutex; the accessors may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gateway/gw_client.h"
#include "infra/device_info.h"
#include "infra/event.h"
#include "infra/plain_lock.h"

namespace quorvel {

class CLogOn : public IMessageReceiver {
 public:
  // Results of LogOn.
  static constexpr int kLoggedOn = 4;
  static constexpr int kCredentialsRefused = 13;
  static constexpr int kNotLoggedOn = 14;

  explicit CLogOn(CGWClient* client);
  virtual ~CLogOn();

  CLogOn(const CLogOn&) = delete;
  CLogOn& operator=(const CLogOn&) = delete;

  // The whole log-on: kLoggedOn, kCredentialsRefused or kNotLoggedOn. When
  // abort (manual-reset; normally the driver's stop event) is signalled
  // during a wait, LogOn gives up at once with kNotLoggedOn.
  int LogOn(CEvent* abort = nullptr);

  void ProcessServerMessage(ServerMessage& message) override;

  // Values of the last replies. Replies only ever overwrite them, so a new
  // LogOn starts with what the previous one left.
  std::uint32_t GetMaxRealtimeStreams() const;
  std::vector<std::string> GetProfileNames() const;
  std::string GetStatus() const;
  std::string GetDigestKey() const;

  // "Gateway SDK / Kalmeno 3.0" above protocol level 2, else "... 2.0".
  static std::string UserAgent(int protocolLevel);
  // The result for a "Status" word; exact and case-sensitive.
  static int ResultForStatus(const std::string& status);

 private:
  bool Authenticate(const DEVICE_INFO& device, CEvent* abort);
  void ComputeDigest(const DEVICE_INFO& device, std::string& out) const;
  // The status after the "user/logon" exchange; empty when aborted.
  std::string SendLogon(const DEVICE_INFO& device, std::string digest, CEvent* abort);
  // Takes the session limits from a "user/logon" reply body; false (fields
  // unchanged) when there is no body or it is not XML.
  bool ParseSession(ServerMessage& message);

  // Constant after construction.
  CGWClient* const m_client;

  // Manual reset: a reply that comes after its wait timed out leaves it
  // signalled, so the next wait of this object returns at once.
  CEvent m_replyEvent;

  mutable CPlainLock m_fieldsLock;
  std::string m_digestKey GUARDED_BY(m_fieldsLock);
  std::string m_status GUARDED_BY(m_fieldsLock);
  std::uint32_t m_maxRealtimeStreams GUARDED_BY(m_fieldsLock) = 0;
  std::vector<std::string> m_profileNames GUARDED_BY(m_fieldsLock);
};

}  // namespace quorvel
