#include "gateway/client_message.h"

#include <cstdint>

#include "gateway/wire_format.h"
#include "infra/text_helpers.h"

namespace quorvel {

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         c == '~' || c == '-' || c == '_' || c == '.';
}

}  // namespace

ClientMessage::ClientMessage(const std::string& command)
    : m_command(command.begin(), command.end()) {}

void ClientMessage::AddParam(const std::string& name, unsigned int value) {
  m_parameters.push_back(FormatString("%s=%u", name.c_str(), value));
}

void ClientMessage::AddParam(const std::string& name, const std::string& value) {
  const std::string encoded = UrlEncode(value);
  if (encoded.empty()) return;
  m_parameters.push_back(FormatString("%s=%s", name.c_str(), encoded.c_str()));
}

std::string ClientMessage::GetRequestText() const {
  std::string text(m_command.begin(), m_command.end());
  for (std::size_t i = 0; i < m_parameters.size(); ++i) {
    text += (i == 0) ? '?' : '&';
    text += m_parameters[i];
  }
  return text;
}

void ClientMessage::Serialize(std::vector<char>& out) const {
  out.clear();
  const std::string text = GetRequestText();
  if (text.empty()) return;
  unsigned char length[wire::kLengthSize];
  wire::PutUint32Le(length, static_cast<std::uint32_t>(text.size()));
  out.reserve(wire::kLengthSize + text.size());
  out.insert(out.end(), length, length + wire::kLengthSize);
  out.insert(out.end(), text.begin(), text.end());
}

std::size_t ClientMessage::FrameSize() const {
  std::size_t size = m_command.size() + m_parameters.size();  // one "?" or "&" each
  for (const std::string& parameter : m_parameters) size += parameter.size();
  return size == 0 ? 0 : wire::kLengthSize + size;
}

std::string UrlEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size() * 3);
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      encoded += ch;
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0x0F];
    }
  }
  return encoded;
}

}  // namespace quorvel
