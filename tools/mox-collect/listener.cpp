#include "listener.h"

#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

#include <memory>

namespace moxcollect {

namespace {

void setPort(sockaddr* address, uint16_t port) {
  if (address->sa_family == AF_INET) reinterpret_cast<sockaddr_in*>(address)->sin_port = htons(port);
  if (address->sa_family == AF_INET6) reinterpret_cast<sockaddr_in6*>(address)->sin6_port = htons(port);
}

// Binds and listens on one address; an invalid fd with a message on failure.
UniqueFd bindOne(const addrinfo* info, std::string& error) {
  UniqueFd fd(::socket(info->ai_family, info->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, info->ai_protocol));
  if (!fd.valid()) {
    error = strerror(errno);
    return fd;
  }
  const int on = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (info->ai_family == AF_INET6) setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (::bind(fd.get(), info->ai_addr, info->ai_addrlen) != 0 || ::listen(fd.get(), SOMAXCONN) != 0) {
    error = strerror(errno);
    fd.reset();
  }
  return fd;
}

}  // namespace

bool Listener::open(const Endpoint& endpoint, std::vector<Listener>& out, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(endpoint.port);
  const int rc = getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &found);
  if (rc != 0) {
    error = "cannot resolve '" + endpoint.host + "': " + gai_strerror(rc);
    return false;
  }
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, freeaddrinfo);

  uint16_t chosenPort = endpoint.port;
  size_t bound = 0;
  for (const addrinfo* info = found; info != nullptr; info = info->ai_next) {
    if (info->ai_family != AF_INET && info->ai_family != AF_INET6) continue;
    setPort(info->ai_addr, chosenPort);
    std::string why;
    UniqueFd fd = bindOne(info, why);
    if (!fd.valid()) {
      error = "cannot listen on " + addressText(info->ai_addr) + ": " + why;
      continue;
    }
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &length);
    const sockaddr* localAddress = reinterpret_cast<const sockaddr*>(&local);
    chosenPort = addressPort(localAddress);
    out.push_back(Listener(std::move(fd), addressText(localAddress), chosenPort));
    ++bound;
  }
  if (bound == 0 && error.empty()) error = "no IPv4 or IPv6 address for '" + endpoint.host + "'";
  return bound > 0;
}

Listener::AcceptResult Listener::accept(Accepted& out) const {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  UniqueFd fd(::accept4(fd_.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!fd.valid()) return errno == EMFILE || errno == ENFILE ? AcceptResult::NoDescriptor : AcceptResult::None;
  out.fd = std::move(fd);
  out.peer = addressText(reinterpret_cast<const sockaddr*>(&peer));
  out.peerHost = addressHostText(reinterpret_cast<const sockaddr*>(&peer));
  return AcceptResult::Accepted;
}

}  // namespace moxcollect
