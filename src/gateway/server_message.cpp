#include "gateway/server_message.h"

#include "infra/text_helpers.h"

namespace quorvel {

namespace {

constexpr const char* kResponseKey = "Response";
constexpr const char* kRequestKey = "Request";
constexpr const char* kServerRequest = "request/validation";
constexpr const char* kLineEnd = "\r\n";

}  // namespace

void ServerMessage::Clear() {
  m_headerData.clear();
  m_body.clear();
  m_headers.clear();
}

void ServerMessage::SetHeaderData(const std::vector<char>& data) {
  if (!data.empty()) m_headerData = data;
}

void ServerMessage::SetBody(const std::vector<char>& body) {
  if (!body.empty()) m_body = body;
}

bool ServerMessage::GetBody(std::vector<char>& out) const {
  if (m_body.empty()) return false;
  out = m_body;
  return true;
}

std::string ServerMessage::GetBodyText() const { return std::string(m_body.begin(), m_body.end()); }

std::string ServerMessage::GetHeaderText() const {
  return std::string(m_headerData.begin(), m_headerData.end());
}

std::string ServerMessage::GetHeader(const std::string& key) const {
  for (auto it = m_headers.rbegin(); it != m_headers.rend(); ++it) {
    if (it->first == key) return it->second;
  }
  return std::string();
}

bool ServerMessage::ParseHeaders() {
  m_headers.clear();
  if (m_headerData.empty()) return false;
  const std::string text = GetHeaderText();
  std::size_t pos = 0;
  for (;;) {
    const std::size_t end = (pos < text.size()) ? text.find(kLineEnd, pos) : std::string::npos;
    if (end == std::string::npos || end == pos) break;
    const std::vector<std::string> pieces = Split(text.substr(pos, end - pos), ':');
    if (pieces.size() == 2) m_headers.emplace_back(Trim(pieces[0]), Trim(pieces[1]));
    pos = end + 2;
  }
  return !m_headers.empty();
}

bool ServerMessage::Parse() {
  if (!ParseHeaders()) return false;
  std::string command = GetHeader(kResponseKey);
  if (command.find(kServerRequest) != std::string::npos) {
    command = GetHeader(kRequestKey);
    m_isResponse = false;
  }
  return !command.empty();
}

std::string ServerMessage::GetCommand() const {
  return GetHeader(m_isResponse ? kResponseKey : kRequestKey);
}

bool ServerMessage::IsCommand(const std::string& command) const {
  return GetCommand().find(command) != std::string::npos;
}

}  // namespace quorvel
