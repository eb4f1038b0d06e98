#include "record.h"

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

}  // namespace moxcollect
