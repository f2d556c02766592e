#include "gateway/server_message.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "gateway/header_marks.h"

namespace quorvel {

namespace {

constexpr const char* kServerRequest = "request/validation";

using Known = ServerMessage::Known;

// A key of up to eight bytes as one little-endian word, zero-padded.
constexpr std::uint64_t KeyWord(std::string_view key) {
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < key.size() && i < 8; ++i) {
    word |= static_cast<std::uint64_t>(static_cast<unsigned char>(key[i])) << (8 * i);
  }
  return word;
}

// The same for a key inside a block that ends at blockEnd: one load where
// eight bytes are left to read.
std::uint64_t KeyWordInBlock(std::string_view key, const char* blockEnd) {
  if (key.size() > 8 || blockEnd - key.data() < 8) return KeyWord(key);
  std::uint64_t word = 0;
  std::memcpy(&word, key.data(), sizeof word);
  return key.size() == 8 ? word : word & ((std::uint64_t{1} << (8 * key.size())) - 1);
}

// The keys every frame is asked for (and "Request"), found by a perfect
// hash of their first letter and their size, then one compare of words.
// The words and the slots are kept apart: together they span at most three
// cache lines, where whole entries with their sizes took six.
constexpr std::size_t KeyHash(char first, std::size_t size) {
  return (static_cast<unsigned char>(first) + 5 * size) & 15;
}

struct KnownKeyTable {
  std::array<std::uint64_t, 16> words{};  // 0: no key hashes here
  std::array<std::int8_t, 16> slots{};    // -1 there
};

constexpr KnownKeyTable MakeKnownKeys() {
  const std::pair<std::string_view, Known> keys[] = {
      {"Cid", Known::kCid},       {"Size", Known::kSize},       {"Width", Known::kWidth},
      {"Status", Known::kStatus}, {"Fourcc", Known::kFourcc},   {"Height", Known::kHeight},
      {"Request", Known::kRequest}, {"Response", Known::kResponse}};
  KnownKeyTable table;
  for (std::int8_t& slot : table.slots) slot = -1;
  for (const auto& key : keys) {
    const std::size_t place = KeyHash(key.first[0], key.first.size());
    table.words[place] = KeyWord(key.first);
    table.slots[place] = static_cast<std::int8_t>(key.second);
  }
  return table;
}

constexpr KnownKeyTable kKnownKeys = MakeKnownKeys();

constexpr bool EveryKnownKeyHasItsOwnPlace() {
  int places = 0;
  for (const std::int8_t slot : kKnownKeys.slots) places += slot >= 0 ? 1 : 0;
  return places == static_cast<int>(Known::kResponse) + 1;
}
static_assert(EveryKnownKeyHasItsOwnPlace(), "two known keys hash to one place");

// The slot in m_known of key, whose word is given; -1 for any other key.
// Equal words are enough: a key of up to eight bytes that differs from the
// known key at its place only by trailing NULs has another size, and five
// times a size difference of 1 to 7 moves the hash.
int KnownKeySlot(std::string_view key, std::uint64_t word) {
  if (key.empty() || key.size() > 8) return -1;
  const std::size_t place = KeyHash(key[0], key.size());
  return kKnownKeys.words[place] == word ? kKnownKeys.slots[place] : -1;
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
  if (other.m_split) ParseHeaders();
}

ServerMessage& ServerMessage::operator=(const ServerMessage& other) {
  if (this == &other) return *this;
  other.LoadPendingBody();
  m_headerData = other.m_headerData;
  m_body = other.m_body;
  ForgetHeaders();
  m_isResponse = other.m_isResponse;
  if (other.m_split) ParseHeaders();
  m_stream = nullptr;
  m_pendingSize = 0;
  return *this;
}

void ServerMessage::Clear() {
  m_headerData.Clear();
  m_body.Clear();
  ForgetHeaders();
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
  ForgetHeaders();
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

std::string_view ServerMessage::HeaderView(std::string_view key) const {
  const int slot = KnownKeySlot(key, KeyWord(key));
  if (slot >= 0) return HeaderView(static_cast<Known>(slot));
  const auto& headers = Headers();
  for (auto it = headers.rbegin(); it != headers.rend(); ++it) {
    if (it->first == key) return it->second;
  }
  return std::string_view();
}

std::vector<std::pair<std::string, std::string>> ServerMessage::GetHeaders() const {
  const auto& headers = Headers();
  std::vector<std::pair<std::string, std::string>> out;
  out.reserve(headers.size());
  for (const auto& header : headers) out.emplace_back(header.first, header.second);
  return out;
}

void ServerMessage::ForgetHeaders() {
  m_split = false;
  m_headers.clear();
  m_listed = false;
  m_command = std::string_view();
}

bool ServerMessage::ParseHeaders() {
  const bool found = SplitHeaders();
  FindCommand();
  return found;
}

template <typename OnHeader>
std::size_t ServerMessage::WalkHeaders(OnHeader&& onHeader) const {
  const char* const data = m_headerData.Data();
  const std::size_t size = m_headerData.Size();
  // It runs for every frame: lines end with "\r\n" (a lone '\r' belongs to
  // the line), the first empty line ends the block, text after the last
  // "\r\n" is ignored.
  std::size_t count = 0;
  std::size_t line = 0;
  const char* first = nullptr;  // the line's first two colons
  const char* second = nullptr;
  for (std::size_t base = 0; base < size; base += marks::kWindow) {
    const marks::WindowBits bits = marks::WindowAt(data, size, base);
    const char* const window = data + base;
    std::uint64_t colons = bits.colons;
    for (std::uint64_t ends = bits.lineEnds; ends != 0; ends &= ends - 1) {
      const unsigned end = static_cast<unsigned>(__builtin_ctzll(ends));
      if (base + end == line) return count;
      // The colons before this end and after the last one are the line's.
      const std::uint64_t upToEnd = (std::uint64_t{2} << end) - 1;
      std::uint64_t own = colons & upToEnd;
      colons &= ~upToEnd;
      if (first == nullptr && own != 0) {
        first = window + __builtin_ctzll(own);
        own &= own - 1;
      }
      if (second == nullptr && own != 0) second = window + __builtin_ctzll(own);
      std::string_view key;
      std::string_view value;
      if (SplitHeaderLine(data + line, window + end, first, second, key, value)) {
        onHeader(key, value);
        ++count;
      }
      line = base + end + 2;
      first = second = nullptr;
    }
    // What is left belongs to the line that goes on into the next window.
    if (first == nullptr && colons != 0) {
      first = window + __builtin_ctzll(colons);
      colons &= colons - 1;
    }
    if (second == nullptr && colons != 0) second = window + __builtin_ctzll(colons);
  }
  return count;
}

bool ServerMessage::SplitHeaders() {
  ForgetHeaders();
  m_split = true;
  const char* const data = m_headerData.Data();
  const std::size_t size = m_headerData.Size();
  bool found = false;
  if (m_memo.Recall(data, size, m_known, found)) return found;
  m_known.fill(std::string_view());
  const char* const blockEnd = data + size;
  found = WalkHeaders([this, blockEnd](std::string_view key, std::string_view value) {
            const int slot = KnownKeySlot(key, KeyWordInBlock(key, blockEnd));
            if (slot >= 0) m_known[static_cast<std::size_t>(slot)] = value;
          }) != 0;
  m_memo.Keep(data, size, m_known, found);
  return found;
}

bool ServerMessage::SplitMemo::Recall(const char* data, std::size_t size,
                                      std::array<std::string_view, kKnownKeys>& known, bool& found) const {
  if (size == 0 || size != m_size || std::memcmp(data, m_block.data(), size) != 0) return false;
  for (std::size_t i = 0; i < kKnownKeys; ++i) {
    known[i] = m_offsets[i] == kAbsent ? std::string_view() : std::string_view(data + m_offsets[i], m_sizes[i]);
  }
  found = m_found;
  return true;
}

void ServerMessage::SplitMemo::Keep(const char* data, std::size_t size,
                                    const std::array<std::string_view, kKnownKeys>& known, bool found) {
  if (size == 0 || size > kMaxBlock) {
    m_size = 0;
    return;
  }
  std::memcpy(m_block.data(), data, size);
  m_size = size;
  m_found = found;
  for (std::size_t i = 0; i < kKnownKeys; ++i) {
    const bool absent = known[i].data() == nullptr;
    m_offsets[i] = absent ? kAbsent : static_cast<std::uint16_t>(known[i].data() - data);
    m_sizes[i] = absent ? 0 : static_cast<std::uint16_t>(known[i].size());
  }
}

const std::vector<std::pair<std::string_view, std::string_view>>& ServerMessage::Headers() const {
  if (m_split && !m_listed) {
    m_headers.clear();
    WalkHeaders([this](std::string_view key, std::string_view value) { m_headers.emplace_back(key, value); });
    m_listed = true;
  }
  return m_headers;
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
