#include "endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>

namespace moxcollect {

bool parseEndpoint(std::string_view text, Endpoint& out, std::string& error) {
  std::string_view host;
  std::string_view port;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      error = "expected [IPv6-ADDRESS]:PORT, got '" + std::string(text) + "'";
      return false;
    }
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || text.find(':') != colon) {
      error = "expected HOST:PORT (an IPv6 address in brackets), got '" + std::string(text) + "'";
      return false;
    }
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  unsigned value = 0;
  const auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (host.empty() || port.empty() || ec != std::errc() || ptr != port.data() + port.size() || value > 65535) {
    error = "expected HOST:PORT with a port from 0 to 65535, got '" + std::string(text) + "'";
    return false;
  }
  out.host.assign(host);
  out.port = static_cast<uint16_t>(value);
  return true;
}

std::string addressHostText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  }
  return text;
}

uint16_t addressPort(const sockaddr* address) {
  if (address->sa_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
  if (address->sa_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
  return 0;
}

std::string addressText(const sockaddr* address) {
  const std::string host = addressHostText(address);
  const std::string port = std::to_string(addressPort(address));
  return address->sa_family == AF_INET6 ? "[" + host + "]:" + port : host + ":" + port;
}

}  // namespace moxcollect
