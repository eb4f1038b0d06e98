// A small HTTP server for the live page, on civetweb. It answers GET and
// HEAD only (405 otherwise) and hands each request, its path and its decoded
// query, to one handler, called on civetweb's worker threads (any number at
// once: it must be thread-safe and must not throw; a throw becomes a 500).
//
// Bounds, since anyone who can reach the port may be hostile: a request's
// line and headers at most kMaxRequestBytes (civetweb answers 400 past it),
// no body, at most kQueryFields query fields, kThreads requests served at
// once, a request read within kRequestTimeout, and requests per client
// address limited by a RateLimiter (429). Every response, civetweb's own
// errors included, carries the security headers: a Content-Security-Policy
// that allows only the page's own script, style and requests, no framing,
// no type sniffing and no referrer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "endpoint.h"
#include "rate_limiter.h"

struct mg_context;
struct mg_connection;

namespace moxcollect {

struct HttpRequest {
  std::string method;                        // GET or HEAD
  std::string path;                          // decoded, without the query
  std::map<std::string, std::string> query;  // decoded; of a repeated name, the first
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // besides the security headers
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

// The headers every response carries.
const std::vector<std::pair<std::string, std::string>>& securityHeaders();

class HttpServer {
 public:
  static constexpr size_t kMaxRequestBytes = 8192;
  static constexpr size_t kQueryFields = 16;
  static constexpr int kThreads = 4;
  static constexpr std::chrono::milliseconds kRequestTimeout{10000};

  HttpServer(HttpHandler handler, RateLimiter& limiter);
  ~HttpServer();  // stops serving, waiting for the requests in progress
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on the endpoint, whose host must be an IP address (port 0: a
  // free port); false with the reason in error.
  bool start(const Endpoint& endpoint, std::string& error);
  // The port listened on, after start().
  uint16_t port() const { return port_; }

 private:
  static int onRequest(mg_connection* connection, void* self);
  static int onError(mg_connection* connection, int status, const char* message);
  static int onLog(const mg_connection* connection, const char* message);
  int serve(mg_connection* connection);
  // Opens and drops a connection to the listening socket.
  void knock() const;

  HttpHandler handler_;
  RateLimiter& limiter_;
  mg_context* context_ = nullptr;
  std::string host_;
  uint16_t port_ = 0;
  std::atomic<bool> starting_{false};
  std::mutex startErrorMutex_;
  std::string startError_;  // civetweb's last message while starting
};

}  // namespace moxcollect
