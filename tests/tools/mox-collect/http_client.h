// A blocking HTTP client for the live page tests, on civetweb's client side:
// one request per connection, the reply's status, headers and body.
#pragma once

#include <civetweb.h>

#include <map>
#include <string>

namespace collecttest {

struct HttpReply {
  int status = 0;  // 0: no reply
  std::map<std::string, std::string> headers;
  std::string body;
  std::string error;
};

inline HttpReply httpRequest(uint16_t port, const std::string& target, const std::string& method = "GET") {
  HttpReply reply;
  char error[256] = "";
  mg_connection* connection =
      mg_download("127.0.0.1", port, 0, error, sizeof error,
                  "%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", method.c_str(), target.c_str());
  if (connection == nullptr) {
    reply.error = error;
    return reply;
  }
  const mg_response_info* info = mg_get_response_info(connection);
  reply.status = info->status_code;
  for (int i = 0; i < info->num_headers; ++i) reply.headers[info->http_headers[i].name] = info->http_headers[i].value;
  char buffer[16384];
  for (int n; (n = mg_read(connection, buffer, sizeof buffer)) > 0;) reply.body.append(buffer, static_cast<size_t>(n));
  mg_close_connection(connection);
  return reply;
}

}  // namespace collecttest
