// Endpoint: a Gateway address as the user types it ("10.1.2.3",
// "gw.example:8080", "[::1]:9000" is not supported) split into the host
// name and the port that the driver takes separately, plus a plain TCP
// reachability probe used to turn "nothing happened" into an error a user
// can act on. Stateless; called from the main thread.
#pragma once

#include <cstdint>
#include <string>

namespace strevon {
namespace hosttool {

constexpr std::uint16_t kDefaultGatewayPort = 8080;

struct Endpoint {
  std::string address;
  std::uint16_t port = kDefaultGatewayPort;

  std::string ToString() const { return address + ":" + std::to_string(port); }
};

// Splits "ADDRESS[:PORT]". A port given in the text wins over defaultPort.
// False, with a reason in *error, for an empty address, a port that is not a
// number from 1 to 65535, or more than one colon.
bool ParseEndpoint(const std::string& text, std::uint16_t defaultPort, Endpoint* out,
                   std::string* error);

// Opens and closes one TCP connection to the endpoint within timeoutMs.
// False, with the system's reason ("Connection refused", "timed out", "no
// such host") in *error, when that fails.
bool ProbeTcp(const Endpoint& endpoint, int timeoutMs, std::string* error);

}  // namespace hosttool
}  // namespace strevon
