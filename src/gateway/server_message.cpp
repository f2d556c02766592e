#include "gateway/server_message.h"

#include <cstring>
#include <string_view>

namespace quorvel {

namespace {

constexpr const char* kResponseKey = "Response";
constexpr const char* kRequestKey = "Request";
constexpr const char* kServerRequest = "request/validation";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kBlanks = " \t";

// A line is a header when splitting it at every ':' gives exactly two
// pieces, where a ':' at the very end of the line opens no piece: "a:b"
// and "a:b:" are headers (key "a", value "b"), "a:", "a" and "a:b:c" are
// not.
bool SplitHeaderLine(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::size_t first = line.find(':');
  if (first == std::string_view::npos) return false;
  std::size_t valueEnd = line.find(':', first + 1);
  if (valueEnd == std::string_view::npos) {
    if (first + 1 == line.size()) return false;  // "a:" is one piece
    valueEnd = line.size();
  } else if (valueEnd + 1 != line.size()) {
    return false;  // three pieces or more
  }
  key = line.substr(0, first);
  value = line.substr(first + 1, valueEnd - first - 1);
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return std::string_view();
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

}  // namespace

ServerMessage::ServerMessage(const ServerMessage& other)
    : m_headerData(other.m_headerData), m_headers(other.m_headers), m_isResponse(other.m_isResponse) {
  other.LoadPendingBody();
  m_body = other.m_body;
}

ServerMessage& ServerMessage::operator=(const ServerMessage& other) {
  if (this == &other) return *this;
  other.LoadPendingBody();
  m_headerData = other.m_headerData;
  m_body = other.m_body;
  m_headers = other.m_headers;
  m_isResponse = other.m_isResponse;
  m_stream = nullptr;
  m_pendingSize = 0;
  return *this;
}

void ServerMessage::Clear() {
  m_headerData.Clear();
  m_body.Clear();
  m_headers.clear();
  m_stream = nullptr;
  m_pendingSize = 0;
}

void ServerMessage::SetPendingBody(BodyStream* stream, std::size_t size) {
  m_body.Clear();
  m_stream = size != 0 ? stream : nullptr;
  m_pendingSize = m_stream != nullptr ? size : 0;
}

bool ServerMessage::TakeBody(unsigned char* destination, std::size_t capacity) {
  const std::size_t size = BodySize();
  if (destination == nullptr || capacity < size) return false;
  if (m_stream == nullptr) {
    if (size != 0) std::memcpy(destination, m_body.Data(), size);
    return true;
  }
  BodyStream* const stream = m_stream;
  m_stream = nullptr;
  m_pendingSize = 0;
  return stream->ReadBody(reinterpret_cast<char*>(destination), size);
}

void ServerMessage::EndPendingBody() {
  if (m_stream == nullptr) return;
  BodyStream* const stream = m_stream;
  m_stream = nullptr;
  stream->SkipBody(m_pendingSize);
  m_pendingSize = 0;
}

void ServerMessage::LoadPendingBody() const {
  if (m_stream == nullptr) return;
  BodyStream* const stream = m_stream;
  m_stream = nullptr;
  if (!stream->ReadBody(m_body.Resize(m_pendingSize), m_pendingSize)) m_body.Clear();
}

const char* ServerMessage::BodyData() const {
  LoadPendingBody();
  return m_body.Data();
}

void ServerMessage::SetHeaderData(const std::vector<char>& data) {
  if (!data.empty()) m_headerData.Assign(data.data(), data.size());
}

void ServerMessage::SetBody(const std::vector<char>& body) {
  if (body.empty()) return;
  m_stream = nullptr;
  m_pendingSize = 0;
  m_body.Assign(body.data(), body.size());
}

bool ServerMessage::GetBody(std::vector<char>& out) const {
  LoadPendingBody();
  if (m_body.Empty()) return false;
  out.assign(m_body.Data(), m_body.Data() + m_body.Size());
  return true;
}

std::string ServerMessage::GetBodyText() const {
  LoadPendingBody();
  return std::string(m_body.Data(), m_body.Size());
}

std::string ServerMessage::GetHeaderText() const {
  return std::string(m_headerData.Data(), m_headerData.Size());
}

std::string ServerMessage::GetHeader(const std::string& key) const {
  return std::string(HeaderView(key));
}

std::string_view ServerMessage::HeaderView(std::string_view key) const {
  for (auto it = m_headers.rbegin(); it != m_headers.rend(); ++it) {
    if (it->first == key) return it->second;
  }
  return std::string_view();
}

bool ServerMessage::ParseHeaders() {
  m_headers.clear();
  if (m_headerData.Empty()) return false;
  const std::string_view text(m_headerData.Data(), m_headerData.Size());
  std::size_t pos = 0;
  for (;;) {
    const std::size_t end = (pos < text.size()) ? text.find(kLineEnd, pos) : std::string_view::npos;
    if (end == std::string_view::npos || end == pos) break;
    std::string_view key;
    std::string_view value;
    if (SplitHeaderLine(text.substr(pos, end - pos), key, value)) {
      m_headers.emplace_back(std::string(TrimBlanks(key)), std::string(TrimBlanks(value)));
    }
    pos = end + 2;
  }
  return !m_headers.empty();
}

bool ServerMessage::Parse() {
  m_isResponse = true;
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

bool ServerMessage::IsCommand(std::string_view command) const {
  return HeaderView(m_isResponse ? kResponseKey : kRequestKey).find(command) != std::string_view::npos;
}

}  // namespace quorvel
