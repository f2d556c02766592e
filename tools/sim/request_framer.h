// Cuts the bytes a client sends into requests: each frame is a u32
// little-endian length and that many bytes of request text. Frames of length
// 0 are skipped. A length past kMaxRequestLength means the client is out of
// step; the framer then stops and reports it.
//
// Owned by one connection and used on its thread only; no I/O, so tests can
// feed it bytes directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "request_codec.h"

namespace strevon {
namespace sim {

class RequestFramer {
 public:
  static constexpr std::size_t kMaxRequestLength = 1 << 20;

  enum class Result { kNeedMore, kRequest, kTooLong };

  void Append(const char* data, std::size_t size) { buffer_.append(data, size); }

  // The next whole request. After kTooLong every call returns kTooLong and
  // TooLongLength() is the offending length.
  Result Next(ParsedRequest* request);
  std::uint32_t TooLongLength() const { return too_long_; }

 private:
  std::string buffer_;
  std::size_t pos_ = 0;  // start of the first frame not yet returned
  std::uint32_t too_long_ = 0;
};

}  // namespace sim
}  // namespace strevon
