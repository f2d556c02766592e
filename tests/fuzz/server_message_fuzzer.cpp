// Server-message header parser: arbitrary bytes as a header block through
// SetHeaderData and Parse, then the accessors receivers use; also UrlEncode,
// whose output goes back to the Gateway.
//
// Invariants: every parsed header comes from one "\r\n"-ended line before
// the first empty line, has no ":" or line end in key or value, and is
// trimmed of blanks and tabs; GetHeader returns a key's last value; Parse is
// true exactly when the command is not empty; a second Parse gives the same
// headers; a message reused for the block, a variant of it as long and the
// block again answers as a fresh one; UrlEncode emits only unreserved
// characters and well-formed percent groups and decodes back to its input.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "gateway/client_message.h"
#include "gateway/server_message.h"

namespace {

using quorvel::ServerMessage;
using quorvel::fuzzing::Bytes;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void CheckHeader(const std::string& text) {
  FUZZ_CHECK(text.find(':') == std::string::npos);
  FUZZ_CHECK(text.find("\r\n") == std::string::npos);
  if (!text.empty()) {
    FUZZ_CHECK(!IsBlank(text.front()));
    FUZZ_CHECK(!IsBlank(text.back()));
  }
}

// Lines that can count: those ended by "\r\n" before the first empty one.
std::size_t CountCandidateLines(const std::string& text) {
  std::size_t lines = 0;
  for (std::size_t pos = 0, end; (end = text.find("\r\n", pos)) != std::string::npos && end != pos;
       pos = end + 2) {
    ++lines;
  }
  return lines;
}

// The receiver reuses one message for its connection's stream: whatever it
// parsed before, its answers for a block are a fresh message's.
void CheckReusedLikeFresh(ServerMessage& reused, const std::string& block) {
  ServerMessage fresh;
  fresh.SetHeaderData(Bytes(block));
  std::memcpy(reused.HeaderSpace(block.size()), block.data(), block.size());
  FUZZ_CHECK(reused.Parse() == fresh.Parse());
  FUZZ_CHECK(reused.GetCommand() == fresh.GetCommand());
  for (const char* key : {"Cid", "Size", "Width", "Status", "Fourcc", "Height", "Request", "Response"}) {
    FUZZ_CHECK(reused.GetHeader(key) == fresh.GetHeader(key));
  }
}

// The block with its middle byte made a mark or a plain one: as long, and
// often split otherwise.
std::string VariantOf(const std::string& text) {
  std::string variant = text;
  variant[text.size() / 2] = ":\r\n x"[static_cast<unsigned char>(text[0]) % 5];
  return variant;
}

void CheckUrlEncode(const std::string& text) {
  const std::string encoded = quorvel::UrlEncode(text);
  const std::string hex = "0123456789ABCDEF";  // upper case, as the encoder writes
  std::string decoded;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c != '%') {
      FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(c)) != 0 ||
                 std::string("~-_.").find(c) != std::string::npos);
      decoded.push_back(c);
      continue;
    }
    FUZZ_CHECK(i + 2 < encoded.size());
    const std::size_t high = hex.find(encoded[++i]);
    const std::size_t low = hex.find(encoded[++i]);
    FUZZ_CHECK(high != std::string::npos && low != std::string::npos);
    decoded.push_back(static_cast<char>(high * 16 + low));
  }
  FUZZ_CHECK(decoded == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text =
      size == 0 ? std::string() : std::string(reinterpret_cast<const char*>(data), size);

  ServerMessage message;
  message.SetHeaderData(Bytes(text));
  message.SetBody(Bytes(text));
  const bool parsed = message.Parse();
  const std::string command = message.GetCommand();
  FUZZ_CHECK(parsed == !command.empty());
  if (parsed) FUZZ_CHECK(message.IsCommand("") && message.IsCommand(command));

  const auto headers = message.GetHeaders();
  FUZZ_CHECK(headers.size() <= CountCandidateLines(text));
  for (const auto& header : headers) {
    CheckHeader(header.first);
    CheckHeader(header.second);
    std::string last;
    for (const auto& other : headers) {
      if (other.first == header.first) last = other.second;
    }
    FUZZ_CHECK(message.GetHeader(header.first) == last);
  }
  FUZZ_CHECK(message.GetHeaderText() == text);
  std::vector<char> body;
  FUZZ_CHECK(message.GetBody(body) == !text.empty());
  FUZZ_CHECK(message.GetBodyText() == text);

  message.Parse();
  FUZZ_CHECK(message.GetHeaders() == headers);

  // Clear keeps the response flag: a server request stays one.
  const bool response = message.IsResponse();
  message.Clear();
  FUZZ_CHECK(message.IsResponse() == response);
  FUZZ_CHECK(!message.Parse());

  if (!text.empty()) {
    const std::string variant = VariantOf(text);
    ServerMessage reused;
    for (const std::string* block : {&text, &variant, &variant, &text}) CheckReusedLikeFresh(reused, *block);
  }

  CheckUrlEncode(text);
  return 0;
}
