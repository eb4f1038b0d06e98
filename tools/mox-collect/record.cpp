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

void classify(Record& record) {
  const Element& e = record.element;
  MetricName& metric = record.metric;
  Identity& identity = record.identity;
  if (e.name == "metric") {
    const std::string* type = e.attribute("type");
    const std::string* name = e.attribute("name");
    const std::string_view typeText = type ? std::string_view(*type) : std::string_view();
    parseMetricName(name ? std::string_view(*name) : std::string_view(), keyShapeOf(typeText), metric);
    record.kind = typeText == "StringEvent" && metric.label == kVersionLabel ? RecordKind::Version : RecordKind::Metric;
    identity.system.assign(metric.system);
    identity.process.assign(metric.process);
    identity.instance.assign(metric.instance);
    return;
  }
  record.kind = e.name == "event" ? RecordKind::Trace : RecordKind::Other;
  for (std::string* part : {&metric.system, &metric.process, &metric.instance, &metric.instancePrefix, &metric.key,
                            &metric.label, &identity.system, &identity.process, &identity.instance}) {
    part->clear();
  }
}

Record makeRecord(Element&& element, std::string&& raw) {
  Record record;
  record.element = std::move(element);
  record.raw = std::move(raw);
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
