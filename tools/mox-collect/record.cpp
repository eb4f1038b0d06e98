#include "record.h"

#include <cstdint>

#include "metric_attributes.h"

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

namespace {

bool isMetricLine(RecordKind kind) { return kind == RecordKind::Metric || kind == RecordKind::Version; }

std::string_view text(const std::string* value) {
  return value != nullptr ? std::string_view(*value) : std::string_view();
}

void clear(Identity& identity) {
  identity.system.clear();
  identity.process.clear();
  identity.instance.clear();
}

}  // namespace

RecordKind kindOf(const Element& element) { return kindOf(element, metricAttributes(element)); }

RecordKind kindOf(const Element& element, const MetricAttributes& attributes) {
  const std::string_view elementName = element.name;
  if (elementName == "metric") {
    if (text(attributes.type) != "StringEvent") return RecordKind::Metric;
    const std::string_view name = text(attributes.name);
    const size_t colon = labelSeparator(name);
    const bool version = colon != std::string_view::npos && name.substr(colon + 1) == kVersionLabel;
    return version ? RecordKind::Version : RecordKind::Metric;
  }
  return elementName == "event" ? RecordKind::Trace : RecordKind::Other;
}

std::string_view identityPrefix(const Element& element) { return identityPrefix(metricAttributes(element)); }

std::string_view identityPrefix(const MetricAttributes& attributes) {
  std::string_view path = text(attributes.name);
  path = path.substr(0, labelSeparator(path));
  return path.substr(0, processPartLength(path));
}

void identityFrom(std::string_view prefix, Identity& identity) {
  const size_t bar = prefix.find('|');
  identity.system.assign(prefix.substr(0, bar));
  if (bar == std::string_view::npos) {
    identity.process.clear();
    identity.instance.clear();
    return;
  }
  splitProcessInstance(prefix.substr(bar + 1), identity.process, identity.instance);
}

void splitName(Record& record) {
  MetricName& metric = record.metric;
  if (!isMetricLine(record.kind)) {
    for (std::string* part :
         {&metric.system, &metric.process, &metric.instance, &metric.instancePrefix, &metric.key, &metric.label}) {
      part->clear();
    }
    return;
  }
  const MetricAttributes attributes = attributesOf(record);
  parseMetricName(text(attributes.name), keyShapeOf(text(attributes.type)), metric);
  if (metric.system.empty() && metric.process.empty() && metric.instance.empty()) return;
  Identity& identity = record.identity;
  identity.system.assign(metric.system);
  identity.process.assign(metric.process);
  identity.instance.assign(metric.instance);
}

MetricAttributes attributesOf(const Record& record) { return metricAttributes(record.element, record.places); }

void classify(Record& record) {
  record.places = attributePlaces(record.element);
  record.kind = kindOf(record.element, attributesOf(record));
  clear(record.identity);
  splitName(record);
}

Record makeRecord(Element&& element, std::string&& raw) {
  Record record;
  record.element = std::move(element);
  record.raw = std::move(raw);
  record.bytes = record.raw.size();
  classify(record);
  return record;
}

namespace {

size_t heapOf(const MetricName& name) {
  return heapBytes(name.system) + heapBytes(name.process) + heapBytes(name.instance) + heapBytes(name.instancePrefix) +
         heapBytes(name.key) + heapBytes(name.label);
}

}  // namespace

size_t heapBytes(const Record& record) {
  const size_t element = heapBytes(record.element);
  if (element == SIZE_MAX) return SIZE_MAX;
  return element + heapBytes(record.raw) + heapOf(record.metric) + heapBytes(record.identity.system) +
         heapBytes(record.identity.process) + heapBytes(record.identity.instance) + heapBytes(record.peer) +
         heapBytes(record.peerHost);
}

}  // namespace moxcollect
