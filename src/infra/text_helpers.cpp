#include "infra/text_helpers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <sstream>

namespace quorvel {

namespace {

constexpr const char* kBlanks = " \t";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The magnitude of the leading integer, saturated at the largest u32, and
// whether it had a minus sign.
std::uint32_t LeadingMagnitude(const std::string& text, bool& negative) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                             text[i] == '\r' || text[i] == '\v' || text[i] == '\f')) {
    ++i;
  }
  negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::uint64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;  // saturate instead of overflowing
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::string FormatStringV(const char* format, va_list args) {
  if (format == nullptr) return std::string();
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return std::string();
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[static_cast<std::size_t>(length) + 1]);
  if (!buffer) return std::string();
  va_list fill;
  va_copy(fill, args);
  std::vsnprintf(buffer.get(), static_cast<std::size_t>(length) + 1, format, fill);
  va_end(fill);
  try {
    return std::string(buffer.get(), static_cast<std::size_t>(length));
  } catch (...) {
    return std::string();
  }
}

std::string FormatString(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatStringV(format, args);
  va_end(args);
  return text;
}

namespace {

// Up to nine decimal digits at text[pos], so that no value can overflow;
// false (pos unmoved) when there are none or more.
bool ShortNumber(std::string_view text, std::size_t& pos, unsigned int& value) {
  std::size_t end = pos;
  unsigned int v = 0;
  for (; end < text.size(); ++end) {
    const auto digit = static_cast<unsigned int>(static_cast<unsigned char>(text[end]) - '0');
    if (digit > 9) break;
    if (end - pos == 9) return false;
    v = v * 10 + digit;
  }
  if (end == pos) return false;
  pos = end;
  value = v;
  return true;
}

}  // namespace

bool ParseInt(std::string_view text, int& value) {
  // Every frame's numbers are short and unsigned: nine digits fit an int
  // without the general path's sign and width handling.
  std::size_t end = 0;
  unsigned int shortValue = 0;
  if (ShortNumber(text, end, shortValue) && end == text.size()) {
    value = static_cast<int>(shortValue);
    return true;
  }
  value = 0;
  if (text.empty()) return false;
  std::size_t start = 0;
  if (text[0] == '+' || text[0] == '-') {
    if (text.size() == 1) return false;
    start = 1;
  }
  unsigned long long magnitude = 0;
  for (std::size_t i = start; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    magnitude = magnitude * 10 + static_cast<unsigned long long>(text[i] - '0');
  }
  long long parsed = 0;
  if (text.size() - start <= 18) {
    // No 18-digit number overflows: the conversion below gives what the C
    // library's would.
    parsed = text[0] == '-' ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  } else {
    parsed = std::strtoll(std::string(text).c_str(), nullptr, 10);
  }
  // "%d" semantics: the value wraps like the C library's conversion does for
  // out-of-range input; strtol then narrowing keeps that well defined.
  value = static_cast<int>(static_cast<unsigned int>(static_cast<unsigned long long>(parsed)));
  return true;
}

std::pair<std::uint32_t, std::uint32_t> ParseResolution(std::string_view text) {
  unsigned int width = 0;
  unsigned int height = 0;
  // The plain "704x576" of every video frame without sscanf's cost; any
  // other text (blanks, signs, long numbers) takes the sscanf path.
  std::size_t pos = 0;
  if (ShortNumber(text, pos, width) && pos < text.size() && text[pos] == 'x' &&
      ShortNumber(text, ++pos, height)) {
    return {width, height};
  }
  width = height = 0;
  if (std::sscanf(std::string(text).c_str(), "%ux%u", &width, &height) != 2) return {0, 0};
  return {width, height};
}

int ParseLeadingInt(const std::string& text) {
  bool negative = false;
  std::uint32_t magnitude = LeadingMagnitude(text, negative);
  // Modulo 2^32, so a caller that casts back to u32 reads a "%u" id whole.
  if (negative) magnitude = 0u - magnitude;
  return static_cast<int>(magnitude);
}

std::uint32_t ParseLeadingUint(const std::string& text) {
  bool negative = false;
  const std::uint32_t magnitude = LeadingMagnitude(text, negative);
  return negative ? 0u : magnitude;
}

std::vector<std::string> Split(const std::string& text, char delimiter) {
  std::vector<std::string> pieces;
  std::istringstream stream(text);
  std::string piece;
  while (std::getline(stream, piece, delimiter)) pieces.push_back(piece);
  return pieces;
}

std::string GetKeyValue(const std::string& text, const std::string& key,
                        const std::string& assign, const std::string& separators) {
  if (text.empty() || key.empty() || assign.empty() || separators.empty()) return std::string();
  std::size_t p = text.find(key);
  while (p != std::string::npos) {
    std::size_t end = text.find_first_of(separators, p);
    if (end == std::string::npos) end = text.size();
    const std::size_t eq = text.find(assign, p);
    if (eq != std::string::npos && eq < end) {
      const std::string name = Trim(text.substr(p, eq - p));
      const std::size_t valueStart = eq + assign.size();
      if (name == key && valueStart < text.size()) {
        return text.substr(valueStart, end > valueStart ? end - valueStart : 0);
      }
    }
    if (end >= text.size()) break;
    // A key that begins with a separator ends right where it starts; the
    // search goes on one character later, or it would find the same place
    // again for ever.
    p = text.find(key, std::max(end, p + 1));
  }
  return std::string();
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return std::string();
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::string ToLower(const std::string& text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace quorvel
