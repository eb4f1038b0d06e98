// A listening address given as "HOST:PORT" or "[IPv6]:PORT" (port 0: any
// free port), and the texts of socket addresses as the collector prints them:
// "127.0.0.1:59818", "[::1]:59818".
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace moxcollect {

struct Endpoint {
  std::string host;
  uint16_t port = 0;
};

// False with a message for a text that is not HOST:PORT with a port of 0 to 65535.
bool parseEndpoint(std::string_view text, Endpoint& out, std::string& error);

std::string addressText(const sockaddr* address);      // host and port
std::string addressHostText(const sockaddr* address);  // host alone, without brackets
uint16_t addressPort(const sockaddr* address);

}  // namespace moxcollect
