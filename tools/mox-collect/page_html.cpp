#include "page_html.h"

#include <cctype>
#include <nlohmann/json.hpp>

namespace moxcollect {

namespace {

using Json = nlohmann::json;

struct Column {
  const char* field;  // the row's field in the API's JSON
  const char* title;
  bool number = true;
};

const std::vector<Column> kTimingByAverage = {{"process", "Process", false},
                                              {"key", "Timing key", false},
                                              {"average", "Avg ms"},
                                              {"max", "Max ms"},
                                              {"count", "Count"}};
const std::vector<Column> kTimingByMaximum = {{"process", "Process", false},
                                              {"key", "Timing key", false},
                                              {"max_seen", "Max ms"},
                                              {"average", "Avg ms"},
                                              {"count", "Count"}};
const std::vector<Column> kBusiest = {{"process", "Process", false},
                                      {"key", "Timing key", false},
                                      {"finished", "Finished"},
                                      {"last_finished", "Last"},
                                      {"active", "Active"}};
const std::vector<Column> kResources = {{"process", "Process", false},
                                        {"resource", "Resource", false},
                                        {"current", "Current"},
                                        {"high", "High"},
                                        {"low", "Low"}};
const std::vector<Column> kTraces = {
    {"id", "Trace", false},    {"process", "Process", false}, {"key", "Transaction", false},
    {"start", "Start", false}, {"duration", "Duration ms"},   {"passport", "Passport", false},
    {"calls", "Calls"}};

std::string measured(int64_t value) { return value < 0 ? "–" : std::to_string(value); }

std::string cell(const std::string& text) { return "<td>" + htmlEscaped(text) + "</td>"; }

// A link to the page with the given state; the query's values are all digits or escaped here.
std::string link(const PageState& state) {
  std::string query;
  const auto add = [&](const std::string& part) { query += (query.empty() ? "?" : "&") + part; };
  if (!state.process.empty()) {
    std::string encoded;
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char c : state.process) {
      if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
        encoded += static_cast<char>(c);
      } else {
        encoded += '%';
        encoded += hex[c >> 4];
        encoded += hex[c & 15];
      }
    }
    add("process=" + encoded);
  }
  if (state.trace != 0) add("trace=" + std::to_string(state.trace));
  return "/" + query;
}

std::string tableStart(const char* id, const char* title, const char* note, const std::vector<Column>& columns) {
  std::string out = "<section class=\"table\" id=\"" + std::string(id) + "\"><h2>" + title + "</h2><p class=\"note\">" +
                    note + "</p><table><thead><tr>";
  for (const Column& column : columns) {
    out += "<th data-field=\"" + std::string(column.field) + "\" scope=\"col\"" +
           (column.number ? " class=\"number\"" : "") + ">" + column.title + "</th>";
  }
  return out + "</tr></thead><tbody>";
}

const char* kTableEnd = "</tbody></table></section>";

std::string timingTable(const char* id, const char* title, const char* note, const std::vector<Column>& columns,
                        const std::vector<TopTimingRow>& rows) {
  std::string out = tableStart(id, title, note, columns);
  for (const TopTimingRow& row : rows) {
    out += "<tr>" + cell(row.process) + cell(row.key);
    for (size_t i = 2; i < columns.size(); ++i) {
      const std::string field = columns[i].field;
      const std::string value = field == "average"         ? measured(row.average)
                                : field == "max"           ? measured(row.lastMax)
                                : field == "max_seen"      ? measured(row.maxSeen)
                                : field == "count"         ? std::to_string(row.lastCount)
                                : field == "finished"      ? std::to_string(row.finishedTotal)
                                : field == "last_finished" ? std::to_string(row.lastFinished)
                                                           : std::to_string(row.active);
      out += "<td class=\"number\">" + value + "</td>";
    }
    out += "</tr>";
  }
  return out + kTableEnd;
}

std::string resourceTable(const std::vector<TopResourceRow>& rows) {
  std::string out = tableStart("resources", "Resources", "latest interval, by name", kResources);
  for (const TopResourceRow& row : rows) {
    out += "<tr>" + cell(row.process) + cell(row.name) + "<td class=\"number\">" + std::to_string(row.current) +
           "</td><td class=\"number\">" + std::to_string(row.high) + "</td><td class=\"number\">" +
           std::to_string(row.low) + "</td></tr>";
  }
  return out + kTableEnd;
}

std::string traceList(const std::vector<TraceSummary>& traces, const PageState& state) {
  std::string out = tableStart("traces", "Latest traces", "newest first; choose one to see its calls", kTraces);
  for (const TraceSummary& trace : traces) {
    PageState chosen = state;
    chosen.trace = trace.id;
    out += "<tr" + std::string(trace.id == state.trace ? " class=\"chosen\"" : "") + "><td><a href=\"" +
           htmlEscaped(link(chosen)) + "\">" + std::to_string(trace.id) + "</a></td>" + cell(trace.process) +
           cell(trace.key) + cell(trace.start) + "<td class=\"number\">" + measured(trace.duration) + "</td>" +
           cell(trace.passport) + "<td class=\"number\">" + std::to_string(trace.calls) + "</td></tr>";
  }
  return out + kTableEnd;
}

std::string paramText(const Json& node) {
  std::string out;
  for (const Json& param : node.value("params", Json::array())) {
    if (!out.empty()) out += "\n";
    out += param.value("name", "") + " = " + param.value("value", "");
  }
  return out;
}

std::string cpuOf(const Json& node) {
  for (const Json& param : node.value("params", Json::array())) {
    if (param.value("name", "") == "CPU Time (us)") return param.value("value", "");
  }
  return "";
}

std::string numberText(const Json& value) {
  return value.is_number_integer() ? std::to_string(value.get<int64_t>())
         : value.is_string()       ? value.get<std::string>()
                                   : "";
}

constexpr size_t kIndentClasses = 16;

// The calls as nested rows, depth first, without recursion.
std::string treeRows(const Json& root) {
  std::string out;
  std::vector<std::pair<const Json*, size_t>> open{{&root, 0}};
  while (!open.empty()) {
    const auto [node, depth] = open.back();
    open.pop_back();
    if (!node->is_object()) continue;
    out += "<tr data-depth=\"" + std::to_string(depth) + "\" title=\"" + htmlEscaped(paramText(*node)) +
           "\"><td class=\"call depth-" + std::to_string(std::min(depth, kIndentClasses)) + "\">" +
           htmlEscaped(node->value("resource", "")) + "</td><td class=\"number\">" +
           (depth == 0 ? std::string("0") : htmlEscaped(numberText(node->value("offset", Json())))) +
           "</td><td class=\"number\">" + htmlEscaped(numberText(node->value("duration", Json()))) +
           "</td><td class=\"number\">" + htmlEscaped(cpuOf(*node)) + "</td></tr>";
    const auto calls = node->find("calls");
    if (calls == node->end() || !calls->is_array()) continue;
    const Json& children = *calls;
    for (size_t i = children.size(); i > 0; --i) open.emplace_back(&children[i - 1], depth + 1);
  }
  return out;
}

std::string traceSection(const PageState& state, const std::optional<std::string>& traceJson) {
  std::string out = "<section id=\"trace\" data-trace=\"" + std::to_string(state.trace) + "\">";
  const Json trace = traceJson ? Json::parse(*traceJson, nullptr, false) : Json();
  if (!trace.is_object()) {
    return out + "<h2>Trace " + std::to_string(state.trace) + "</h2><p>It is no longer kept.</p></section>";
  }
  out += "<h2>Trace " + std::to_string(state.trace) + ": " + htmlEscaped(trace.value("resource", "")) + "</h2>";
  out += "<p class=\"note\">offsets from the parent call's start; hover a row for its parameters</p>";
  out +=
      "<table class=\"tree\"><thead><tr><th scope=\"col\">Call</th><th scope=\"col\">Offset ms</th>"
      "<th scope=\"col\">Duration ms</th><th scope=\"col\">CPU µs</th></tr></thead><tbody>";
  return out + treeRows(trace) + "</tbody></table></section>";
}

std::string processFilter(const std::vector<std::string>& processes, const PageState& state) {
  std::string out =
      "<form id=\"filter\" method=\"get\" action=\"/\"><label for=\"process\">Process</label> "
      "<select id=\"process\" name=\"process\"><option value=\"\">all processes</option>";
  for (const std::string& process : processes) {
    out += "<option value=\"" + htmlEscaped(process) + "\"" + (process == state.process ? " selected" : "") + ">" +
           htmlEscaped(process) + "</option>";
  }
  return out + "</select> <button type=\"submit\">Show</button></form>";
}

}  // namespace

std::string htmlEscaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          out +=
              "&#" + std::to_string(static_cast<unsigned char>(c) == 0 ? 0xfffd : static_cast<unsigned char>(c)) + ";";
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string pageHtml(const TopView& view, const std::vector<TraceSummary>& traces, const PageState& state,
                     const std::optional<std::string>& traceJson) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>mox-collect</title>"
      "<link rel=\"stylesheet\" href=\"/page.css\"><script src=\"/page.js\" defer></script></head><body>"
      "<header><h1>mox-collect</h1><p id=\"totals\">" +
      std::to_string(view.metricLines) + " metric lines, " + std::to_string(view.traces) + " traces, " +
      std::to_string(view.timingKeys) + " timing keys, " + std::to_string(view.resources) + " resources</p>" +
      processFilter(view.processes, state) + "<p id=\"status\" role=\"status\"></p></header><main><div id=\"tables\">";
  out += timingTable("slowest_by_average", "Slowest by average", "elapsed time, latest interval", kTimingByAverage,
                     view.slowestByAverage);
  out += timingTable("slowest_by_maximum", "Slowest by maximum", "largest elapsed time since the start",
                     kTimingByMaximum, view.slowestByMaximum);
  out += timingTable("busiest", "Busiest", "finished calls since the start", kBusiest, view.busiest);
  out += resourceTable(view.resourceRows) + "</div>";
  if (state.trace != 0) out += traceSection(state, traceJson);
  out += traceList(traces, state);
  return out + "</main></body></html>\n";
}

}  // namespace moxcollect
