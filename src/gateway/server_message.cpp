#include "gateway/server_message.h"

#include <cstring>
#include <string_view>

#include "gateway/mark_scanner.h"

namespace quorvel {

namespace {

constexpr const char* kServerRequest = "request/validation";

// Equality with a literal of key's own size: a fixed-size compare the
// compiler does in a few instructions.
template <std::size_t N>
bool SameAs(std::string_view key, const char (&literal)[N]) {
  return std::memcmp(key.data(), literal, N - 1) == 0;
}

using Known = ServerMessage::Known;

int Slot(Known key) { return static_cast<int>(key); }

// The slot in m_known of a key that every video frame is asked for (or
// "Request"); -1 for any other key.
int KnownKeySlot(std::string_view key) {
  switch (key.size()) {
    case 3:
      return SameAs(key, "Cid") ? Slot(Known::kCid) : -1;
    case 4:
      return SameAs(key, "Size") ? Slot(Known::kSize) : -1;
    case 5:
      return SameAs(key, "Width") ? Slot(Known::kWidth) : -1;
    case 6:
      if (SameAs(key, "Status")) return Slot(Known::kStatus);
      if (SameAs(key, "Fourcc")) return Slot(Known::kFourcc);
      return SameAs(key, "Height") ? Slot(Known::kHeight) : -1;
    case 7:
      return SameAs(key, "Request") ? Slot(Known::kRequest) : -1;
    case 8:
      return SameAs(key, "Response") ? Slot(Known::kResponse) : -1;
    default:
      return -1;
  }
}

// Text is seldom blank: one compare turns away every printable byte.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' ' && (c == ' ' || c == '\t'); }

std::string_view TrimBlanks(const char* begin, const char* end) {
  while (begin < end && IsBlank(*begin)) ++begin;
  while (end > begin && IsBlank(end[-1])) --end;
  return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

// A line is a header when splitting it at every ':' gives exactly two
// pieces, where a ':' at the very end of the line opens no piece: "a:b"
// and "a:b:" are headers (key "a", value "b"), "a:", "a" and "a:b:c" are
// not. first and second are the line's first two colons (null when
// missing).
bool SplitHeaderLine(const char* begin, const char* end, const char* first, const char* second,
                     std::string_view& key, std::string_view& value) {
  if (first == nullptr) return false;
  const char* valueEnd = end;
  if (second == nullptr) {
    if (first + 1 == end) return false;  // "a:" is one piece
  } else if (second + 1 != end) {
    return false;  // three pieces or more
  } else {
    valueEnd = second;
  }
  key = TrimBlanks(begin, first);
  value = TrimBlanks(first + 1, valueEnd);
  return true;
}

}  // namespace

ServerMessage::ServerMessage(const ServerMessage& other)
    : m_headerData(other.m_headerData), m_isResponse(other.m_isResponse) {
  other.LoadPendingBody();
  m_body = other.m_body;
  if (!other.m_headers.empty()) ParseHeaders();
}

ServerMessage& ServerMessage::operator=(const ServerMessage& other) {
  if (this == &other) return *this;
  other.LoadPendingBody();
  m_headerData = other.m_headerData;
  m_body = other.m_body;
  m_headers.clear();
  m_command = std::string_view();
  m_isResponse = other.m_isResponse;
  if (!other.m_headers.empty()) ParseHeaders();
  m_stream = nullptr;
  m_pendingSize = 0;
  return *this;
}

void ServerMessage::Clear() {
  m_headerData.Clear();
  m_body.Clear();
  m_headers.clear();
  m_command = std::string_view();
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
  if (data.empty()) return;
  m_headers.clear();
  m_command = std::string_view();
  m_headerData.Assign(data.data(), data.size());
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

std::string_view ServerMessage::HeaderView(Known key) const {
  const std::uint32_t position = m_known[static_cast<std::size_t>(key)];
  if (position == 0 || position > m_headers.size()) return std::string_view();
  return m_headers[position - 1].second;
}

std::string_view ServerMessage::HeaderView(std::string_view key) const {
  const int slot = KnownKeySlot(key);
  if (slot >= 0) return HeaderView(static_cast<Known>(slot));
  for (auto it = m_headers.rbegin(); it != m_headers.rend(); ++it) {
    if (it->first == key) return it->second;
  }
  return std::string_view();
}

void ServerMessage::NoteKnownKey(std::string_view key, std::size_t index) {
  const int slot = KnownKeySlot(key);
  if (slot >= 0) m_known[static_cast<std::size_t>(slot)] = static_cast<std::uint32_t>(index + 1);
}

std::vector<std::pair<std::string, std::string>> ServerMessage::GetHeaders() const {
  std::vector<std::pair<std::string, std::string>> out;
  out.reserve(m_headers.size());
  for (const auto& header : m_headers) out.emplace_back(header.first, header.second);
  return out;
}

bool ServerMessage::ParseHeaders() {
  const bool found = SplitHeaders();
  FindCommand();
  return found;
}

bool ServerMessage::SplitHeaders() {
  m_headers.clear();
  m_known.fill(0);
  if (m_headerData.Empty()) return false;
  const char* const data = m_headerData.Data();
  const std::size_t size = m_headerData.Size();
  // It runs for every frame: lines end with "\r\n" (a lone '\r' belongs to
  // the line), the first empty line ends the block, text after the last
  // "\r\n" is ignored.
  MarkScanner marks(data, size);
  std::size_t line = 0;
  const char* first = nullptr;  // the line's first two colons
  const char* second = nullptr;
  for (std::size_t at = marks.Next(); at < size; at = marks.Next()) {
    if (marks.IsColon()) {
      if (first == nullptr) {
        first = data + at;
      } else if (second == nullptr) {
        second = data + at;
      }
      continue;
    }
    // A '\r' ends the line only where a '\n' follows it.
    if (at + 1 == size) break;
    if (data[at + 1] != '\n') continue;
    if (at == line) break;
    std::string_view key;
    std::string_view value;
    if (SplitHeaderLine(data + line, data + at, first, second, key, value)) {
      NoteKnownKey(key, m_headers.size());
      m_headers.emplace_back(key, value);
    }
    line = at + 2;
    first = second = nullptr;
  }
  return !m_headers.empty();
}

bool ServerMessage::Parse() {
  m_isResponse = true;
  if (!ParseHeaders()) return false;
  if (m_command.find(kServerRequest) != std::string_view::npos) {
    m_isResponse = false;
    FindCommand();
  }
  return !m_command.empty();
}

bool ServerMessage::IsCommand(std::string_view command) const {
  // Nearly always asked with the whole command: a compare, not a search.
  if (command.size() >= m_command.size()) return command == m_command;
  return m_command.find(command) != std::string_view::npos;
}

}  // namespace quorvel
