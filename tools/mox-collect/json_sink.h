// Writes each record as one JSON object on its own line (JSON Lines).
//
// Every object has "kind" (metric, version, trace, other), "received" (UTC,
// ISO 8601 with milliseconds), "connection" and "peer". Metric and version
// lines add "system", "process", "instance", "instance_prefix", "key",
// "label", then the element's attributes ("type", "name", "value", "max",
// "min", "count", ...). A trace adds the process fields (null when its
// connection never named its process), "key" (the root call's resource), the
// event's attributes, "params" (a list of {"name","value"}, in order, since a
// name may repeat) and "calls" (the nested calledComponent elements, each
// with its attributes, params and calls); other nested elements go to
// "elements", each with an "element" field for its name. An attribute whose
// name is already taken by a field (or by "params", "calls" or "elements"
// in a trace) is written as "attr_<name>". Attribute values that are plain
// decimal integers become JSON numbers; parameter values stay strings. A
// tree of any depth is written without recursion.
#pragma once

#include <ostream>
#include <string>

#include "record_sink.h"

namespace moxcollect {

// The record as one JSON object, without the line feed.
std::string recordJson(const Record& record);

class JsonSink : public RecordSink {
 public:
  explicit JsonSink(std::ostream& out) : out_(out) {}
  void write(const Record& record) override;
  bool readsRaw() const override { return false; }
  void flush() override { out_.flush(); }
  bool failed() const override { return !out_.good(); }

 private:
  std::ostream& out_;
};

}  // namespace moxcollect
