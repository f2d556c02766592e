// IDebugMessage: the log call every component holds. The driver implements
// it (formatting the line and handing it to its logger); components keep a
// possibly null pointer and log nothing when it is null. By convention the
// format starts with "%s: " and the first argument is the full method name.
// The host-facing records (CDebugInfoIf, IDebugInfoSink) are public and live
// in strevon.h.
#pragma once

#include "strevon.h"

class IDebugMessage {
 public:
  virtual ~IDebugMessage() = default;                                     // 0
  virtual void DebugMessage(int level, const char* format, ...)
      __attribute__((format(printf, 3, 4))) = 0;                          // 1
};

namespace quorvel {

// Log levels: lower is more severe.
constexpr int LOG_ERROR = 1;
constexpr int LOG_WARN = 2;
constexpr int LOG_INFO = 3;
constexpr int LOG_DEBUG = 4;
// The driver's opening summary: reaches the host only at threshold 100.
constexpr int LOG_SUMMARY = 100;

}  // namespace quorvel
