// The bytes of the simulator's wire faults: junk, messages whose stated
// lengths lie, spoiled "Cid" values and spoiled XML bodies. Every message is
// built through the codec, so a fault differs from a good message only where
// it means to. Pure functions, safe from any thread; the connection decides
// when to write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "request_codec.h"
#include "scenario.h"

namespace strevon {
namespace sim {

// count bytes of the repeating pattern "junk\x01\xFE".
Bytes GarbageBytes(std::size_t count);

// A "ping" whose header length field says header_length. A length the
// driver may accept comes with a real header padded to it and an empty body,
// so only its size is wrong; 0 or one past the largest block comes alone.
Bytes HeaderLengthMessage(std::uint32_t header_length, bool with_marker);

// The head of a "video/stream" message that announces a body one byte past
// the largest block; no body bytes follow.
Bytes BodyTooLongMessage(const std::string& cid_text, bool with_marker);

// A body of filler bytes, for a message that is to be cut inside its body.
Bytes FillerBody(std::size_t size);

// The "Cid" header value of channel cid under fault.
std::string CidText(std::uint32_t cid, CidFault fault);

// Spoils xml as set for command, or for every command ("*").
void ApplyXmlFault(const FaultSettings& faults, const std::string& command, std::string* xml);

}  // namespace sim
}  // namespace strevon
