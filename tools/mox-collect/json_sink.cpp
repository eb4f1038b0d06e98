#include "json_sink.h"

#include <time.h>

#include <algorithm>
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

// Attributes become fields; one whose name is taken (by the collector's fields
// or the nested lists) is kept as "attr_<name>".
void addAttributes(Json& object, const Element& element, bool nested) {
  for (const auto& [name, value] : element.attributes) {
    const bool taken = object.contains(name) || (nested && (name == "params" || name == "calls" || name == "elements"));
    object[taken ? "attr_" + name : name] = scalar(value);
  }
}

bool isCall(const Element& e) { return e.name == "calledComponent"; }
bool isOther(const Element& e) { return e.name != "param" && !isCall(e); }

// The fields of a node of the tree that nest nothing: its attributes and its params.
void addOwnFields(Json& object, const Element& element) {
  addAttributes(object, element, true);
  Json params = Json::array();
  for (const Element& child : element.children) {
    if (child.name != "param") continue;
    Json param;
    for (const auto& [name, value] : child.attributes) param[name] = value;
    params.push_back(std::move(param));
  }
  object["params"] = std::move(params);
}

std::string dumped(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

// Writes fields (an object already holding the root's own fields) followed by
// "calls", the nested calledComponent elements, and "elements", any other
// nested elements when there are some, each with its own fields and lists.
// The walk keeps its own stack: a tree may be deeper than the thread's.
class TreeWriter {
 public:
  explicit TreeWriter(std::string& out) : out_(out) {}

  void write(const Json& fields, const Element& root) {
    open(fields, root);
    while (!stack_.empty()) step();
  }

 private:
  struct Frame {
    const Element* element;
    size_t next = 0;      // the child to look at next
    bool others = false;  // listing "elements" (after "calls")
    bool first = true;    // nothing listed yet in the current list
  };

  void open(const Json& fields, const Element& element) {
    std::string own = dumped(fields);
    own.pop_back();  // its closing brace comes after the lists
    out_ += own;
    out_ += ",\"calls\":[";
    stack_.push_back(Frame{&element});
  }

  void step() {
    Frame& frame = stack_.back();
    const std::vector<Element>& children = frame.element->children;
    const auto wanted = frame.others ? isOther : isCall;
    while (frame.next < children.size() && !wanted(children[frame.next])) ++frame.next;
    if (frame.next < children.size()) {
      const Element& child = children[frame.next++];
      if (!frame.first) out_ += ',';
      frame.first = false;
      Json fields = frame.others ? Json{{"element", child.name}} : Json::object();
      addOwnFields(fields, child);
      open(fields, child);  // frame is not used past here: the stack may move
      return;
    }
    out_ += ']';
    if (!frame.others && std::any_of(children.begin(), children.end(), isOther)) {
      out_ += ",\"elements\":[";
      frame = Frame{frame.element, 0, true, true};
      return;
    }
    out_ += '}';
    stack_.pop_back();
  }

  std::string& out_;
  std::vector<Frame> stack_;
};

Json orNull(const std::string& text, bool known) { return known ? Json(text) : Json(nullptr); }

}  // namespace

std::string recordJson(const Record& record) {
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
      addAttributes(object, record.element, false);
      return dumped(object);
    case RecordKind::Trace: {
      object["system"] = orNull(record.identity.system, known);
      object["process"] = orNull(record.identity.process, known);
      object["instance"] = orNull(record.identity.instance, known);
      const std::string* resource = record.element.attribute("resource");
      object["key"] = resource ? *resource : std::string();
      break;
    }
    case RecordKind::Other: object["element"] = record.element.name; break;
  }
  addOwnFields(object, record.element);
  std::string out;
  TreeWriter(out).write(object, record.element);
  return out;
}

void JsonSink::write(const Record& record) { out_ << recordJson(record) << '\n'; }

}  // namespace moxcollect
