#include "record.h"

#include <cstdint>

namespace moxcollect {

namespace {

constexpr std::string_view kVersionLabel = "MOX library version";

}  // namespace

const char* kindName(RecordKind kind) {
  switch (kind) {
    case RecordKind::Metric: return "metric";
    case RecordKind::Version: return "version";
    case RecordKind::Trace: return "trace";
    case RecordKind::Other: break;
  }
  return "other";
}

Record makeRecord(Element&& element, std::string&& raw) {
  Record record;
  record.element = std::move(element);
  record.raw = std::move(raw);
  const Element& e = record.element;
  if (e.name == "event") {
    record.kind = RecordKind::Trace;
  } else if (e.name == "metric") {
    const std::string* type = e.attribute("type");
    const std::string* name = e.attribute("name");
    const std::string_view typeText = type ? std::string_view(*type) : std::string_view();
    record.metric = parseMetricName(name ? std::string_view(*name) : std::string_view(), keyShapeOf(typeText));
    record.kind =
        typeText == "StringEvent" && record.metric.label == kVersionLabel ? RecordKind::Version : RecordKind::Metric;
    record.identity = Identity{record.metric.system, record.metric.process, record.metric.instance};
  }
  return record;
}

namespace {

// A short string lives inside the object.
size_t heapOf(const std::string& text) { return text.capacity() > 15 ? text.capacity() + 1 : 0; }

size_t heapOf(const MetricName& name) {
  return heapOf(name.system) + heapOf(name.process) + heapOf(name.instance) + heapOf(name.instancePrefix) +
         heapOf(name.key) + heapOf(name.label);
}

}  // namespace

size_t heapBytes(const Record& record) {
  const Element& e = record.element;
  // A tree is not walked: a record that holds one is never kept.
  if (!e.children.empty()) return SIZE_MAX;
  size_t bytes = heapOf(record.raw) + heapOf(e.name) + heapOf(record.metric) + heapOf(record.identity.system) +
                 heapOf(record.identity.process) + heapOf(record.identity.instance) + heapOf(record.peer) +
                 heapOf(record.peerHost);
  bytes += e.attributes.capacity() * sizeof(e.attributes[0]) + e.children.capacity() * sizeof(Element);
  for (const auto& attribute : e.attributes) bytes += heapOf(attribute.first) + heapOf(attribute.second);
  return bytes;
}

}  // namespace moxcollect
