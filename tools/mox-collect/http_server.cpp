#include "http_server.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <sys/socket.h>

#include <cstring>
#include <future>
#include <mutex>

#include "unique_fd.h"

namespace moxcollect {

namespace {

const char* reasonOf(int status) {
  const char* reason = mg_get_response_code_text(nullptr, status);
  return reason != nullptr ? reason : "";
}

bool isIpAddress(const std::string& host) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

void sendResponse(mg_connection* connection, const HttpResponse& response, bool withBody) {
  if (mg_response_header_start(connection, response.status) != 0) return;
  if (response.status != 204) {
    mg_response_header_add(connection, "Content-Type", response.contentType.c_str(), -1);
    mg_response_header_add(connection, "Content-Length", std::to_string(response.body.size()).c_str(), -1);
  }
  for (const auto& [name, value] : securityHeaders())
    mg_response_header_add(connection, name.c_str(), value.c_str(), -1);
  for (const auto& [name, value] : response.headers)
    mg_response_header_add(connection, name.c_str(), value.c_str(), -1);
  {
    // civetweb formats the Date header with gmtime(), whose buffer all threads share.
    static std::mutex dateFormatting;
    std::lock_guard<std::mutex> lock(dateFormatting);
    mg_response_header_send(connection);
  }
  if (withBody && !response.body.empty()) mg_write(connection, response.body.data(), response.body.size());
}

HttpResponse plain(int status, std::string text) {
  HttpResponse response;
  response.status = status;
  response.body = std::move(text) + "\n";
  return response;
}

std::map<std::string, std::string> decodedQuery(const char* text) {
  std::map<std::string, std::string> query;
  if (text == nullptr) return query;
  std::vector<char> copy(text, text + std::strlen(text) + 1);
  mg_header fields[HttpServer::kQueryFields];
  const int count = mg_split_form_urlencoded(copy.data(), fields, HttpServer::kQueryFields);
  for (int i = 0; i < count; ++i) {
    if (fields[i].name != nullptr) query.emplace(fields[i].name, fields[i].value != nullptr ? fields[i].value : "");
  }
  return query;
}

}  // namespace

const std::vector<std::pair<std::string, std::string>>& securityHeaders() {
  static const std::vector<std::pair<std::string, std::string>> headers = {
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
       "form-action 'self'; base-uri 'none'; frame-ancestors 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "no-referrer"},
      {"Cache-Control", "no-store"},
  };
  return headers;
}

HttpServer::HttpServer(HttpHandler handler, RateLimiter& limiter) : handler_(std::move(handler)), limiter_(limiter) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { mg_init_library(0); });
}

HttpServer::~HttpServer() {
  if (context_ == nullptr) return;
  // civetweb's listening thread sees the stop only when its poll returns,
  // after up to two seconds; a connection makes it return at once.
  auto stopped = std::async(std::launch::async, [this] { mg_stop(context_); });
  while (stopped.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) knock();
}

void HttpServer::knock() const {
  const bool v6 = host_.find(':') != std::string::npos;
  const bool any = host_ == "0.0.0.0" || host_ == "::";
  UniqueFd fd(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return;
  if (v6) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port_);
    inet_pton(AF_INET6, any ? "::1" : host_.c_str(), &address.sin6_addr);
    ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    inet_pton(AF_INET, any ? "127.0.0.1" : host_.c_str(), &address.sin_addr);
    ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
}

bool HttpServer::start(const Endpoint& endpoint, std::string& error) {
  if (!isIpAddress(endpoint.host)) {
    error = "the host must be an IP address, e.g. 127.0.0.1 or [::1], got '" + endpoint.host + "'";
    return false;
  }
  const bool v6 = endpoint.host.find(':') != std::string::npos;
  constexpr unsigned kIpv6Feature = 8;
  if (v6 && mg_check_feature(kIpv6Feature) == 0) {
    error = "the installed civetweb has no IPv6; give an IPv4 address, e.g. 127.0.0.1";
    return false;
  }
  const std::string ports = (v6 ? "[" + endpoint.host + "]" : endpoint.host) + ":" + std::to_string(endpoint.port);
  const std::string maxRequest = std::to_string(kMaxRequestBytes);
  const std::string threads = std::to_string(kThreads);
  const std::string timeout = std::to_string(kRequestTimeout.count());
  const char* options[] = {"listening_ports",
                           ports.c_str(),
                           "num_threads",
                           threads.c_str(),
                           "max_request_size",
                           maxRequest.c_str(),
                           "request_timeout_ms",
                           timeout.c_str(),
                           "enable_keep_alive",
                           "yes",
                           "enable_directory_listing",
                           "no",
                           nullptr};
  mg_callbacks callbacks{};
  callbacks.http_error = &HttpServer::onError;
  callbacks.log_message = &HttpServer::onLog;
  starting_ = true;
  context_ = mg_start(&callbacks, this, options);
  starting_ = false;
  if (context_ == nullptr) {
    std::lock_guard<std::mutex> lock(startErrorMutex_);
    error = "cannot listen on " + ports + (startError_.empty() ? std::string() : ": " + startError_);
    return false;
  }
  host_ = endpoint.host;
  mg_set_request_handler(context_, "/", &HttpServer::onRequest, this);
  mg_server_port listening[1]{};
  if (mg_get_server_ports(context_, 1, listening) == 1) port_ = static_cast<uint16_t>(listening[0].port);
  return true;
}

int HttpServer::onRequest(mg_connection* connection, void* self) {
  try {
    return static_cast<HttpServer*>(self)->serve(connection);
  } catch (...) {
    sendResponse(connection, plain(500, "internal error"), true);
    return 500;
  }
}

int HttpServer::serve(mg_connection* connection) {
  const mg_request_info* info = mg_get_request_info(connection);
  const std::string method = info->request_method != nullptr ? info->request_method : "";
  const bool head = method == "HEAD";
  HttpResponse response;
  if (!limiter_.allow(info->remote_addr, std::chrono::steady_clock::now())) {
    response = plain(429, "too many requests");
    response.headers.emplace_back("Retry-After", "1");
  } else if (method != "GET" && !head) {
    response = plain(405, "only GET and HEAD");
    response.headers.emplace_back("Allow", "GET, HEAD");
  } else if (info->content_length > 0) {
    response = plain(413, "a request has no body here");
  } else {
    HttpRequest request{method, info->local_uri != nullptr ? info->local_uri : "/", decodedQuery(info->query_string)};
    response = handler_(request);
  }
  if (response.status >= 400) response.headers.emplace_back("Connection", "close");
  sendResponse(connection, response, !head);
  return response.status;
}

int HttpServer::onError(mg_connection* connection, int status, const char* message) {
  try {
    sendResponse(connection,
                 plain(status, std::string(reasonOf(status)) + (message ? std::string(": ") + message : "")), true);
    return 0;
  } catch (...) {
    return 1;
  }
}

int HttpServer::onLog(const mg_connection* connection, const char* message) {
  // Only start-up problems are kept (for start()'s message); the rest is not printed.
  const mg_context* context = mg_get_context(connection);
  auto* server = context != nullptr ? static_cast<HttpServer*>(mg_get_user_data(context)) : nullptr;
  if (server == nullptr || !server->starting_ || message == nullptr) return 1;
  std::lock_guard<std::mutex> lock(server->startErrorMutex_);
  if (!server->startError_.empty()) server->startError_ += "; ";
  server->startError_ += message;
  return 1;
}

}  // namespace moxcollect
