#include "json_sink.h"

#include <time.h>

#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace moxcollect {

namespace {

using Json = nlohmann::ordered_json;

// A value such as "42" or "-1" becomes a number; "007", "1.5" or "2.3.6" stay text.
Json scalar(const std::string& text) {
  const bool canonical = !text.empty() && text != "-" && (text.size() == 1 || text[text.front() == '-'] != '0');
  int64_t number = 0;
  const char* end = text.data() + text.size();
  if (canonical) {
    const auto [ptr, ec] = std::from_chars(text.data(), end, number);
    if (ec == std::errc() && ptr == end) return number;
  }
  return text;
}

std::string utcText(std::chrono::system_clock::time_point at) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
  const time_t seconds = static_cast<time_t>(ms / 1000);
  struct tm parts {};
  gmtime_r(&seconds, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

// Attributes become fields; one whose name the collector already uses is kept as "attr_<name>".
void addAttributes(Json& object, const Element& element) {
  for (const auto& [name, value] : element.attributes) {
    object[object.contains(name) ? "attr_" + name : name] = scalar(value);
  }
}

Json callTree(const Element& element);

// Adds the element's attributes, its params and its nested calls to object.
void fillTree(Json& object, const Element& element) {
  addAttributes(object, element);
  Json params = Json::array();
  Json calls = Json::array();
  Json others = Json::array();
  for (const Element& child : element.children) {
    if (child.name == "param") {
      Json param;
      for (const auto& [name, value] : child.attributes) param[name] = value;
      params.push_back(std::move(param));
    } else if (child.name == "calledComponent") {
      calls.push_back(callTree(child));
    } else {
      Json other = {{"element", child.name}};
      fillTree(other, child);
      others.push_back(std::move(other));
    }
  }
  object["params"] = std::move(params);
  object["calls"] = std::move(calls);
  if (!others.empty()) object["elements"] = std::move(others);
}

Json callTree(const Element& element) {
  Json object = Json::object();
  fillTree(object, element);
  return object;
}

Json orNull(const std::string& text, bool known) { return known ? Json(text) : Json(nullptr); }

Json toJson(const Record& record) {
  Json object = {{"kind", kindName(record.kind)},
                 {"received", utcText(record.received)},
                 {"connection", record.connection},
                 {"peer", record.peer}};
  const bool known = record.identity.known();
  switch (record.kind) {
    case RecordKind::Metric:
    case RecordKind::Version:
      object["system"] = record.metric.system;
      object["process"] = record.metric.process;
      object["instance"] = record.metric.instance;
      object["instance_prefix"] = record.metric.instancePrefix;
      object["key"] = record.metric.key;
      object["label"] = record.metric.label;
      addAttributes(object, record.element);
      break;
    case RecordKind::Trace: {
      object["system"] = orNull(record.identity.system, known);
      object["process"] = orNull(record.identity.process, known);
      object["instance"] = orNull(record.identity.instance, known);
      const std::string* resource = record.element.attribute("resource");
      object["key"] = resource ? *resource : std::string();
      fillTree(object, record.element);
      break;
    }
    case RecordKind::Other:
      object["element"] = record.element.name;
      fillTree(object, record.element);
      break;
  }
  return object;
}

}  // namespace

void JsonSink::write(const Record& record) {
  out_ << toJson(record).dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace moxcollect
