#include "live_page.h"

#include <charconv>
#include <optional>

#include "live_json.h"
#include "page_assets.h"
#include "page_html.h"

namespace moxcollect {

namespace {

constexpr const char* kTracesPrefix = "/api/traces/";

std::optional<uint64_t> wholeNumber(const std::string& text) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

HttpResponse text(int status, const std::string& body) {
  HttpResponse response;
  response.status = status;
  response.body = body + "\n";
  return response;
}

HttpResponse noContent() {
  HttpResponse response;
  response.status = 204;
  return response;
}

HttpResponse json(std::string body) {
  HttpResponse response;
  response.contentType = "application/json";
  response.body = std::move(body);
  return response;
}

std::string queryText(const HttpRequest& request, const std::string& name) {
  const auto found = request.query.find(name);
  return found == request.query.end() ? std::string() : found->second;
}

// A count from the query: fallback when absent, nullopt when not a number from 1 to max.
std::optional<size_t> queryCount(const HttpRequest& request, const std::string& name, size_t fallback, size_t max) {
  const auto found = request.query.find(name);
  if (found == request.query.end()) return fallback;
  const std::optional<uint64_t> value = wholeNumber(found->second);
  if (!value || *value == 0 || *value > max) return std::nullopt;
  return static_cast<size_t>(*value);
}

HttpResponse asset(const char* type, std::string_view content) {
  HttpResponse response;
  response.contentType = type;
  response.body = std::string(content);
  return response;
}

}  // namespace

HttpResponse LivePage::handle(const HttpRequest& request) const {
  if (request.path == "/") return page(request);
  if (request.path == "/page.js") return asset("text/javascript; charset=utf-8", pageScript());
  if (request.path == "/page.css") return asset("text/css; charset=utf-8", pageStyle());
  if (request.path == "/favicon.ico") return noContent();  // browsers ask for it; the page has none
  if (request.path == "/api/tables") return tables(request);
  if (request.path == "/api/traces") return traces(request);
  if (request.path.rfind(kTracesPrefix, 0) == 0)
    return trace(request.path.substr(std::char_traits<char>::length(kTracesPrefix)));
  return text(404, "not found");
}

HttpResponse LivePage::page(const HttpRequest& request) const {
  PageState state;
  state.process = queryText(request, "process");
  state.trace = wholeNumber(queryText(request, "trace")).value_or(0);
  std::optional<std::string> trace;
  if (state.trace != 0) trace = sink_.traceJson(state.trace);
  HttpResponse response;
  response.contentType = "text/html; charset=utf-8";
  response.body =
      pageHtml(sink_.tables(kDefaultRows, state.process), sink_.traces(kDefaultTraces, state.process), state, trace);
  return response;
}

HttpResponse LivePage::tables(const HttpRequest& request) const {
  const std::optional<size_t> rows = queryCount(request, "rows", kDefaultRows, kMaxRows);
  if (!rows) return text(400, "rows: expected a number from 1 to " + std::to_string(kMaxRows));
  return json(tablesJson(sink_.tables(*rows, queryText(request, "process"))));
}

HttpResponse LivePage::traces(const HttpRequest& request) const {
  const size_t most = std::max<size_t>(traceCapacity_, 1);
  const std::optional<size_t> limit = queryCount(request, "limit", std::min(kDefaultTraces, most), most);
  if (!limit) return text(400, "limit: expected a number from 1 to " + std::to_string(most));
  return json(tracesJson(sink_.traces(*limit, queryText(request, "process")), traceCapacity_));
}

HttpResponse LivePage::trace(const std::string& id) const {
  const std::optional<uint64_t> number = wholeNumber(id);
  if (!number) return text(404, "no such trace");
  std::optional<std::string> body = sink_.traceJson(*number);
  if (!body) return text(404, "trace " + id + " is not kept (any more)");
  return json(std::move(*body));
}

}  // namespace moxcollect
