#include "injected_faults.h"

#include "frame_stamp.h"
#include "gateway/wire_format.h"

namespace strevon {
namespace sim {

namespace {

constexpr std::size_t kHugeXmlSize = 1000000;  // stays below the largest valid block

void SpoilXml(XmlFault fault, std::string* xml) {
  switch (fault) {
    case XmlFault::kNone:
      break;
    case XmlFault::kMalformed:
      *xml = xml->substr(0, xml->size() / 2) + "<<&unclosed";
      break;
    case XmlFault::kEmpty:
      xml->clear();
      break;
    case XmlFault::kHuge: {
      const std::size_t close = xml->rfind("</");
      if (close == std::string::npos || xml->size() >= kHugeXmlSize) break;
      const std::string open = "<Padding>";
      const std::string end = "</Padding>\r\n";
      const std::size_t fill = kHugeXmlSize - xml->size() - open.size() - end.size();
      xml->insert(close, open + std::string(fill, 'x') + end);
      break;
    }
  }
}

}  // namespace

Bytes GarbageBytes(std::size_t count) {
  Bytes junk(count);
  for (std::size_t k = 0; k < junk.size(); ++k) junk[k] = static_cast<unsigned char>("junk\x01\xFE"[k % 6]);
  return junk;
}

Bytes HeaderLengthMessage(std::uint32_t header_length, bool with_marker) {
  if (header_length == 0 || header_length > quorvel::wire::kMaxBlockLength) {
    return EncodeLengthPrefix(header_length, with_marker);
  }
  std::string text = "Response: ping\r\nX-Padding: ";
  const std::string tail = "\r\n\r\n";
  if (text.size() + tail.size() < header_length) {
    text += std::string(header_length - text.size() - tail.size(), 'p') + tail;
  } else {
    text = std::string(header_length, '\n');
  }
  return EncodeMessageHead(text, 0, with_marker);
}

Bytes BodyTooLongMessage(const std::string& cid_text, bool with_marker) {
  const std::string header =
      BuildHeaderText({{"Response", "video/stream"}, {"Cid", cid_text}, {"Status", "OK"}});
  return EncodeMessageHead(header, quorvel::wire::kMaxBlockLength + 1, with_marker);
}

Bytes FillerBody(std::size_t size) {
  Bytes body(size);
  for (std::size_t k = 0; k < body.size(); ++k) body[k] = FillerByte(k, 0);
  return body;
}

std::string CidText(std::uint32_t cid, CidFault fault) {
  switch (fault) {
    case CidFault::kOutOfRange:
      return std::to_string(static_cast<std::uint64_t>(cid) + 100000);
    case CidFault::kNotNumeric:
      return "ch" + std::to_string(cid);
    case CidFault::kNone:
      break;
  }
  return std::to_string(cid);
}

void ApplyXmlFault(const FaultSettings& faults, const std::string& command, std::string* xml) {
  auto it = faults.xml.find(command);
  if (it == faults.xml.end()) it = faults.xml.find("*");
  if (it != faults.xml.end()) SpoilXml(it->second, xml);
}

}  // namespace sim
}  // namespace strevon
