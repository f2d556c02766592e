#include "infra/platform/name_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

namespace quorvel {
namespace platform {

bool ResolveIPv4(const std::string& host, std::uint32_t& address) {
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
  in_addr parsed{};
  if (inet_pton(AF_INET, host.c_str(), &parsed) != 1) return false;
  address = parsed.s_addr;
  return true;
}

}  // namespace platform
}  // namespace quorvel
