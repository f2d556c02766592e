#include "request_framer.h"

#include "gateway/wire_format.h"

namespace strevon {
namespace sim {

RequestFramer::Result RequestFramer::Next(ParsedRequest* request) {
  constexpr std::size_t kLen = quorvel::wire::kLengthSize;
  if (too_long_ != 0) return Result::kTooLong;
  while (buffer_.size() - pos_ >= kLen) {
    const std::uint32_t len = quorvel::wire::GetUint32Le(reinterpret_cast<const unsigned char*>(buffer_.data() + pos_));
    if (len > kMaxRequestLength) {
      too_long_ = len;
      return Result::kTooLong;
    }
    if (buffer_.size() - pos_ - kLen < len) break;
    const std::size_t start = pos_ + kLen;
    pos_ = start + len;
    if (len != 0) {
      *request = ParseRequestText(buffer_.substr(start, len));
      return Result::kRequest;
    }
  }
  // Only a partial frame is left: drop what was consumed, once per read.
  buffer_.erase(0, pos_);
  pos_ = 0;
  return Result::kNeedMore;
}

}  // namespace sim
}  // namespace strevon
