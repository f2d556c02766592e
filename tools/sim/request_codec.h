// Byte-level helpers of the Gateway simulator: decoding the request frames a
// client sends, encoding the server messages the simulator answers with, and
// checking a log-on digest. Pure functions, safe to call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace strevon {
namespace sim {

using Bytes = std::vector<unsigned char>;
using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as the client sent it: the command and its decoded parameters.
struct ParsedRequest {
  std::string command;
  std::map<std::string, std::string> params;  // a repeated name keeps its last value
  std::vector<std::pair<std::string, std::string>> ordered_params;
  std::string raw_text;
  bool well_formed = true;  // false when a "%" was not followed by two hex digits
};

// Decodes "%XX" groups (either hex case); any other byte is kept as it is.
// A broken group is kept literally and clears *ok when ok is given.
std::string PercentDecode(const std::string& text, bool* ok = nullptr);

// Encodes every byte except ASCII letters, digits and "~-_." as "%XX".
std::string PercentEncode(const std::string& text);

// Splits "command?name=value&name=value" and decodes the values.
ParsedRequest ParseRequestText(const std::string& text);

// Builds one request frame (u32 LE length, then the text); used by tests and
// by anything that wants to talk to the simulator without the driver.
Bytes EncodeRequestFrame(const std::string& text);

// Header text: "Key: Value\r\n" per header, then an empty line.
std::string BuildHeaderText(const HeaderList& headers);

// The start of every server message: [marker] u32 length. Alone it is a
// message cut after its header length.
Bytes EncodeLengthPrefix(std::uint32_t length, bool with_marker);

// A server message up to its body: [marker] u32 H, header_text, u32
// body_length. The body length is stated, not checked, so that a fault can
// announce a body it never sends.
Bytes EncodeMessageHead(const std::string& header_text, std::uint32_t body_length, bool with_marker);

// One server message: [marker] u32 H, header text, u32 B, body.
Bytes EncodeServerMessage(const HeaderList& headers, const Bytes& body, bool with_marker);
Bytes EncodeServerMessage(const HeaderList& headers, const std::string& body, bool with_marker);

// UTF-8 to UTF-16 code units (invalid sequences become U+FFFD).
std::u16string Utf8ToUtf16(const std::string& text);

// The log-on digest: SHA-1 over the UTF-16LE code units of password + key,
// as 40 lower-case hex characters. Empty when hashing fails.
std::string ComputeLogonDigest(const std::string& password, const std::string& key);

// A random key of 32 upper-case hex characters (never contains ':').
std::string MakeDigestKey();

}  // namespace sim
}  // namespace strevon
