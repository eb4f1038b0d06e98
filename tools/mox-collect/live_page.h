// The routes of --http over a LiveSink (see README.md):
//   /?process=P&trace=ID           the page (page_html.h), its state in the query
//   /page.js, /page.css            its script and style
//   /api/tables?process=P&rows=N   the four --top tables (rows 1 to kMaxRows, default kDefaultRows)
//   /api/traces?process=P&limit=N  the latest traces, newest first (default kDefaultTraces)
//   /api/traces/ID                 one trace as --json writes it, with its "id"
// Anything else is 404; a bad number is 400. Thread-safe, as the sink is.
#pragma once

#include <cstddef>

#include "http_server.h"
#include "live_sink.h"

namespace moxcollect {

class LivePage {
 public:
  static constexpr size_t kDefaultRows = 25;
  static constexpr size_t kMaxRows = 1000;
  static constexpr size_t kDefaultTraces = 200;

  LivePage(const LiveSink& sink, size_t traceCapacity) : sink_(sink), traceCapacity_(traceCapacity) {}

  HttpResponse handle(const HttpRequest& request) const;

 private:
  HttpResponse page(const HttpRequest& request) const;
  HttpResponse tables(const HttpRequest& request) const;
  HttpResponse traces(const HttpRequest& request) const;
  HttpResponse trace(const std::string& id) const;

  const LiveSink& sink_;
  size_t traceCapacity_;
};

}  // namespace moxcollect
