// The requests of one client connection and the session state they build:
// the digest key handed out, the logged-in user, the event subscription and
// its filter. Stream requests start and stop streams in the connection's
// StreamSet; I/O toggles go to the shared SimContext.
//
// Owned by the connection and called on its thread only. Replies go back
// through ReplySink, which the connection implements: it writes them now or
// after the reply delay set for the command, and spoils XML bodies as the
// faults say.
#pragma once

#include <set>
#include <string>

#include "request_codec.h"
#include "scenario.h"
#include "sim_context.h"
#include "stream_set.h"

namespace strevon {
namespace sim {

class ReplySink {
 public:
  // command is the request answered; it picks the reply delay.
  virtual void Reply(const std::string& command, const HeaderList& headers, const Bytes& body = Bytes()) = 0;
  // The same for a reply whose body is XML, with the XML fault applied.
  virtual void ReplyXml(const std::string& command, const HeaderList& headers, std::string xml) = 0;

 protected:
  ~ReplySink() = default;
};

class SimSession {
 public:
  // All four outlive the session.
  SimSession(const Scenario& scenario, SimContext* context, StreamSet* streams, ReplySink* replies);
  SimSession(const SimSession&) = delete;
  SimSession& operator=(const SimSession&) = delete;

  // Answers one request (faults: the connection's snapshot for this pass).
  void Dispatch(const ParsedRequest& request, const FaultSettings& faults);

  // True when the client subscribed to events of this type.
  bool WantsEvent(const std::string& type) const;

 private:
  void HandleAuthenticate(const ParsedRequest& request);
  void HandleLogon(const ParsedRequest& request);
  void HandleProfile(const ParsedRequest& request);
  void HandleSubscribe(const ParsedRequest& request);
  void HandleUnsubscribe(const ParsedRequest& request);
  void HandleEventSubscription(const ParsedRequest& request, bool subscribe);
  void HandleToggle(const ParsedRequest& request);
  void HandlePtz(const ParsedRequest& request, const FaultSettings& faults);

  // constant after construction
  const Scenario& scenario_;
  SimContext* const context_;
  StreamSet* const streams_;
  ReplySink* const replies_;

  std::string digest_key_;
  std::string user_;
  bool logged_in_ = false;
  bool events_subscribed_ = false;
  std::set<std::string> event_filter_;  // empty: every type
};

}  // namespace sim
}  // namespace strevon
