// The log-on digest: what "user/logon" sends as "pass".
//
// SHA-1 over the UTF-16LE code units of the password followed by the key
// that the Gateway's "user/authenticate" reply carried, written as 40
// lower-case hexadecimal characters. Hashing the UTF-8 bytes instead gives a
// digest the server rejects. Stateless; safe to call from any thread.
#pragma once

#include <string>
#include <vector>

namespace quorvel {

// "" when the password or the key is empty, or when hashing failed.
std::string ComputeLogOnDigest(const std::string& password, const std::string& digestKey);

// 40 lower-case hex characters of the SHA-1 of data; "" on failure.
std::string Sha1Hex(const std::vector<unsigned char>& data);

}  // namespace quorvel
