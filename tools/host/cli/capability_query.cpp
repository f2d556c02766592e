#include "capability_query.h"

#include <functional>

#include "capability_sink.h"

namespace strevon {
namespace hosttool {

namespace {

constexpr const char* kNoQuery =
    "this driver library has no capability query (CreateCapabilityQueryModule returned null)";

// Waits for the one report of a started fetch; on time-out aborts it. The
// caller releases the module afterwards, which waits for the fetching thread.
void AwaitOutcome(const host::CapabilityNotifier& notifier, const QueryRequest& request,
                  const std::function<void()>& terminate, QueryResult* result) {
  if (!notifier.Outcomes().WaitForCount(1, request.timeout)) {
    terminate();
    result->status = -1;
    result->message = "the query gave no answer within " +
                      std::to_string(request.timeout.count() / 1000) + " s";
    return;
  }
  const host::QueryOutcome outcome = notifier.Outcomes().Snapshot().front();
  switch (outcome.kind) {
    case host::QueryOutcome::kCompleted:
      result->ok = true;
      result->status = 0;
      break;
    case host::QueryOutcome::kFailed:
      result->status = outcome.status;
      result->message = outcome.message;
      break;
    case host::QueryOutcome::kKilled:
      result->status = -1;
      result->message = "the query's fetching thread had to be killed";
      break;
  }
}

}  // namespace

QueryResult CapabilityQuery::Run(const QueryRequest& request) const {
  const host::DriverExports& exports = m_library.Exports();
  host::CapabilityNotifier notifier;
  host::CapabilityResultSink sink;
  QueryResult result;
  const char* address = request.endpoint.address.c_str();
  const char* user = request.userName.c_str();
  const char* password = request.password.c_str();

  if (request.freeModule) {
    quorvel::ipcapture::IIPCapabilityQuery* module =
        exports.CreateCapabilityQueryModule(&notifier, request.frameRateFlag);
    if (module == nullptr) {
      result.message = kNoQuery;
      return result;
    }
    if (module->Start(address, request.endpoint.port, user, password, &sink) == 0) {
      result.message = "the query module refused to start (Start returned 0)";
    } else {
      AwaitOutcome(notifier, request, [module] { module->Terminate(); }, &result);
    }
    exports.DeleteCapabilityQueryModule(module);
  } else {
    if (exports.InitCapabilityQuery(&notifier, request.frameRateFlag) == 0) {
      result.message = "InitCapabilityQuery refused: a query is already set up in this process";
      return result;
    }
    if (exports.StartCapabilityQuery(address, request.endpoint.port, user, password, &sink) == 0) {
      exports.UninitCapabilityQuery();
      // Tell a missing implementation apart from a refused start.
      host::CapabilityNotifier probeNotifier;
      quorvel::ipcapture::IIPCapabilityQuery* probe =
          exports.CreateCapabilityQueryModule(&probeNotifier, 0);
      if (probe == nullptr) {
        result.message = kNoQuery;
      } else {
        exports.DeleteCapabilityQueryModule(probe);
        result.message = "StartCapabilityQuery refused to start the query (returned 0)";
      }
      return result;
    }
    AwaitOutcome(notifier, request, [&exports] { exports.TerminateCapabilityQuery(); }, &result);
    exports.UninitCapabilityQuery();
  }
  if (result.ok) {
    result.device = DeviceDescription::FromSink(sink, request.endpoint, request.userName,
                                                request.password, request.frameRateFlag);
  }
  return result;
}

}  // namespace hosttool
}  // namespace strevon
