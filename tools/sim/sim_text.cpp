#include "sim_text.h"

namespace strevon {
namespace sim {

namespace {

bool ParseDigits(const std::string& text, std::size_t max_digits, std::uint64_t* out) {
  if (text.empty() || text.size() > max_digits) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *out = v;
  return true;
}

}  // namespace

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool ParseUint64(const std::string& text, std::uint64_t* out) { return ParseDigits(text, 19, out); }

bool ParseUint32(const std::string& text, std::uint32_t* out) {
  std::uint64_t v = 0;
  if (!ParseDigits(text, 10, &v) || v > 0xFFFFFFFFull) return false;
  *out = static_cast<std::uint32_t>(v);
  return true;
}

std::vector<std::string> SplitComma(const std::string& text) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t comma = text.find(',', pos);
    if (comma == std::string::npos) comma = text.size();
    if (comma > pos) out.push_back(text.substr(pos, comma - pos));
    pos = comma + 1;
  }
  return out;
}

std::string ToLowerAscii(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace sim
}  // namespace strevon
