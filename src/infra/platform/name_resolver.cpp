// The resolver behind NameLookup: the same socket calls on every OS, only
// their headers differ; Winsock must be started first (InitializeSockets
// does nothing elsewhere).
#include "infra/platform/name_lookup.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#endif

#include "infra/platform/tcp_socket.h"

namespace quorvel {
namespace platform {

bool ResolveIPv4(const std::string& host, std::uint32_t& address) {
  if (!InitializeSockets()) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0 || results == nullptr) return false;
  bool found = false;
  if (results->ai_family == AF_INET && results->ai_addr != nullptr &&
      results->ai_addrlen >= sizeof(sockaddr_in)) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(results->ai_addr);
    address = in->sin_addr.s_addr;
    found = address != htonl(INADDR_ANY);
  }
  freeaddrinfo(results);
  return found;
}

bool ParseDottedIPv4(const std::string& host, std::uint32_t& address) {
  if (!InitializeSockets()) return false;
  in_addr parsed{};
  if (inet_pton(AF_INET, host.c_str(), &parsed) != 1) return false;
  address = parsed.s_addr;
  return true;
}

}  // namespace platform
}  // namespace quorvel
