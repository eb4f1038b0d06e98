#include "prometheus_mapping.h"

#include <algorithm>
#include <charconv>

namespace moxcollect {

namespace {

constexpr std::array<std::string_view, kTimingLabels> kTimingLabelTexts = {
    "Active Counter",
    "Finished Counter",
    "Finished with undefined state",
    "Avg. Elapsed Time(ms)",
    "Avg. CPU Time(us)",
    "Avg. Net Elapsed Time(ms)",
    "Avg. Net CPU Time(us)",
    "Avg. Elapsed Time High Watermark(ms)",
    "Avg. CPU Time High Watermark(us)",
    "Avg. Net Elapsed Time High Watermark(ms)",
    "Avg. Net CPU Time High Watermark(us)",
};
constexpr std::array<std::string_view, kResourceLabels> kResourceLabelTexts = {
    "Current Value",
    "High Watermark",
    "Low Watermark",
};

// Units per second of elapsed (ms), CPU (us), net elapsed (ms) and net CPU (us) times.
constexpr std::array<double, 4> kUnitsPerSecond = {1e3, 1e6, 1e3, 1e6};

constexpr SeriesMask bit(unsigned series) { return static_cast<SeriesMask>(1u << series); }

template <size_t N>
int indexOf(const std::array<std::string_view, N>& texts, std::string_view label) {
  for (size_t i = 0; i < N; ++i) {
    if (texts[i] == label) return static_cast<int>(i);
  }
  return -1;
}

// Up to this many characters (a sign and digits) an integer cannot overflow.
constexpr size_t kShortNumber = 18;

// The common short number, without from_chars's call and checks: false when it is not one.
bool readShortNumber(std::string_view text, int64_t& out) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty()) return false;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  out = negative ? -value : value;
  return true;
}

// Absent: true with has false. Present: true only when it is a whole decimal integer.
bool readNumber(const std::string* text, int64_t& out, bool& has) {
  has = text != nullptr;
  if (!has) return true;
  if (text->size() <= kShortNumber) return readShortNumber(*text, out);
  const char* end = text->data() + text->size();
  const auto [ptr, ec] = std::from_chars(text->data(), end, out);
  return !text->empty() && ec == std::errc() && ptr == end;
}

bool readValues(const MetricAttributes& attributes, LineValues& values) {
  bool hasValue = false;
  return readNumber(attributes.value, values.value, hasValue) && hasValue &&
         readNumber(attributes.max, values.max, values.hasMax) &&
         readNumber(attributes.min, values.min, values.hasMin) &&
         readNumber(attributes.count, values.count, values.hasCount);
}

bool namesProcess(const MetricNameView& name) { return !name.process.empty() && !name.instance.empty(); }

bool withinNameLimit(const MetricAttributes& attributes) {
  return attributes.name != nullptr && attributes.name->size() <= kMaxNameBytes;
}

bool splitsIntoComponentAndMethod(std::string_view key) {
  const size_t bar = key.find('|');
  return bar != std::string_view::npos && bar > 0 && bar + 1 < key.size();
}

std::string_view text(const std::string* value) {
  return value != nullptr ? std::string_view(*value) : std::string_view();
}

MappedLine malformed() {
  MappedLine line;
  line.kind = MappedLine::Kind::Malformed;
  return line;
}

MappedLine mapVersion(const MetricAttributes& attributes) {
  const std::string* value = attributes.value;
  MappedLine line;
  splitMetricName(text(attributes.name), KeyShape::None, line.name);
  if (!namesProcess(line.name) || !withinNameLimit(attributes) || value == nullptr || value->empty() ||
      value->size() > kMaxNameBytes) {
    return malformed();
  }
  line.kind = MappedLine::Kind::Version;
  line.version = *value;
  return line;
}

// The count of an average line: its own, or (plain form) finished minus undefined-state calls.
int64_t countOf(const LineValues& average, const LineValues* staged, uint32_t labels) {
  if (average.hasCount) return average.count;
  const int64_t finished = (labels & (1u << kFinishedLine)) != 0 ? staged[kFinishedLine].value : 0;
  const int64_t undefined = (labels & (1u << kUndefinedLine)) != 0 ? staged[kUndefinedLine].value : 0;
  return std::max<int64_t>(finished - undefined, 0);
}

}  // namespace

const std::array<SeriesFamily, 17>& seriesFamilies() {
  using O = SeriesOwner;
  static const std::array<SeriesFamily, 17> families = {{
      {"mox_finished_calls_total", "Calls of the timing key that finished normally.", true, O::Timing, kFinishedTotal},
      {"mox_undefined_state_calls_total", "Calls of the timing key that finished in an undefined state.", true,
       O::Timing, kUndefinedTotal},
      {"mox_timed_calls_total", "Calls whose times were measured: the divisor of the *_seconds_total counters.", true,
       O::Timing, kTimedTotal},
      {"mox_elapsed_seconds_total", "Elapsed time of the timed calls.", true, O::Timing, kSecondsTotal + 0},
      {"mox_cpu_seconds_total", "CPU time of the timed calls.", true, O::Timing, kSecondsTotal + 1},
      {"mox_net_elapsed_seconds_total", "Elapsed time of the timed calls without their nested calls.", true, O::Timing,
       kSecondsTotal + 2},
      {"mox_net_cpu_seconds_total", "CPU time of the timed calls without their nested calls.", true, O::Timing,
       kSecondsTotal + 3},
      {"mox_active_calls", "Calls of the timing key running at the end of the latest interval.", false, O::Timing,
       kActiveCalls},
      {"mox_elapsed_max_seconds", "Largest elapsed time of a call in the latest interval.", false, O::Timing,
       kMaxSeconds + 0},
      {"mox_cpu_max_seconds", "Largest CPU time of a call in the latest interval.", false, O::Timing, kMaxSeconds + 1},
      {"mox_net_elapsed_max_seconds", "Largest net elapsed time of a call in the latest interval.", false, O::Timing,
       kMaxSeconds + 2},
      {"mox_net_cpu_max_seconds", "Largest net CPU time of a call in the latest interval.", false, O::Timing,
       kMaxSeconds + 3},
      {"mox_resource_value", "Current value of the resource.", false, O::Resource, kResourceValue},
      {"mox_resource_high_watermark", "Highest value of the resource in the latest interval.", false, O::Resource,
       kResourceHigh},
      {"mox_resource_low_watermark", "Lowest value of the resource in the latest interval.", false, O::Resource,
       kResourceLow},
      {"mox_kpi", "Latest value of a key performance indicator of the resource.", false, O::Kpi, 0},
      {"mox_library_info", "The library version a process runs.", false, O::Info, 0},
  }};
  return families;
}

MappedLine mapLine(const Record& record) {
  if (record.kind != RecordKind::Version && record.kind != RecordKind::Metric) return MappedLine();
  const MetricAttributes attributes = attributesOf(record);
  if (record.kind == RecordKind::Version) return mapVersion(attributes);
  const KeyShape shape = keyShapeOf(text(attributes.type));
  if (shape == KeyShape::None) return MappedLine();
  if (!withinNameLimit(attributes)) return malformed();
  MappedLine line;
  const MetricNameView& name = line.name;
  splitMetricName(*attributes.name, shape, line.name);
  if (!namesProcess(name) || name.key.empty() || name.label.empty()) return malformed();
  if (shape == KeyShape::TimingKey && !splitsIntoComponentAndMethod(name.key)) return malformed();
  if (!readValues(attributes, line.values)) return malformed();
  if (shape == KeyShape::TimingKey) {
    const int label = indexOf(kTimingLabelTexts, name.label);
    if (label < 0) return MappedLine();
    line.kind = MappedLine::Kind::Timing;
    line.label = static_cast<uint8_t>(label);
    return line;
  }
  const int label = indexOf(kResourceLabelTexts, name.label);
  line.kind = label < 0 ? MappedLine::Kind::Kpi : MappedLine::Kind::Resource;
  line.label = static_cast<uint8_t>(std::max(label, 0));
  return line;
}

SeriesMask seriesOf(const MappedLine& line) {
  const LineValues& v = line.values;
  switch (line.kind) {
    case MappedLine::Kind::Timing: {
      if (line.label == kActiveLine) return bit(kActiveCalls);
      if (line.label == kFinishedLine) return bit(kFinishedTotal);
      if (line.label == kUndefinedLine) return bit(kUndefinedTotal);
      if (line.label >= kHighWatermarkLine) {
        return v.value >= 0 ? bit(kMaxSeconds + line.label - kHighWatermarkLine) : SeriesMask{0};
      }
      const unsigned time = line.label - kAverageLine;
      SeriesMask mask = time == 0 ? bit(kTimedTotal) : SeriesMask{0};
      if (v.value >= 0) mask |= bit(kSecondsTotal + time);
      if (v.hasMax && v.max >= 0) mask |= bit(kMaxSeconds + time);
      return mask;
    }
    case MappedLine::Kind::Resource:
      if (line.label == kHighLine) return bit(kResourceHigh);
      if (line.label == kLowLine) return bit(kResourceLow);
      return static_cast<SeriesMask>(bit(kResourceValue) | (v.hasMax ? bit(kResourceHigh) : 0) |
                                     (v.hasMin ? bit(kResourceLow) : 0));
    case MappedLine::Kind::Kpi:
    case MappedLine::Kind::Version: return bit(0);
    case MappedLine::Kind::Ignored:
    case MappedLine::Kind::Malformed: break;
  }
  return 0;
}

void applyTimingInterval(const LineValues* staged, uint32_t labels, SeriesValues& values) {
  const auto has = [labels](unsigned label) { return (labels & (1u << label)) != 0; };
  if (has(kActiveLine)) values[kActiveCalls] = static_cast<double>(staged[kActiveLine].value);
  if (has(kFinishedLine))
    values[kFinishedTotal] += static_cast<double>(std::max<int64_t>(staged[kFinishedLine].value, 0));
  if (has(kUndefinedLine)) {
    values[kUndefinedTotal] += static_cast<double>(std::max<int64_t>(staged[kUndefinedLine].value, 0));
  }
  for (unsigned time = 0; time < 4; ++time) {
    const double unit = kUnitsPerSecond[time];
    if (has(kAverageLine + time)) {
      const LineValues& average = staged[kAverageLine + time];
      const int64_t count = countOf(average, staged, labels);
      if (time == 0) values[kTimedTotal] += static_cast<double>(std::max<int64_t>(count, 0));
      if (average.value >= 0 && count > 0) {
        values[kSecondsTotal + time] += static_cast<double>(average.value) * static_cast<double>(count) / unit;
      }
      if (average.hasMax && average.max >= 0) values[kMaxSeconds + time] = static_cast<double>(average.max) / unit;
    }
    if (has(kHighWatermarkLine + time) && staged[kHighWatermarkLine + time].value >= 0) {
      values[kMaxSeconds + time] = static_cast<double>(staged[kHighWatermarkLine + time].value) / unit;
    }
  }
}

void applyResourceInterval(const LineValues* staged, uint32_t labels, SeriesValues& values) {
  if ((labels & (1u << kCurrentLine)) != 0) {
    const LineValues& current = staged[kCurrentLine];
    values[kResourceValue] = static_cast<double>(current.value);
    if (current.hasMax) values[kResourceHigh] = static_cast<double>(current.max);
    if (current.hasMin) values[kResourceLow] = static_cast<double>(current.min);
  }
  if ((labels & (1u << kHighLine)) != 0) values[kResourceHigh] = static_cast<double>(staged[kHighLine].value);
  if ((labels & (1u << kLowLine)) != 0) values[kResourceLow] = static_cast<double>(staged[kLowLine].value);
}

}  // namespace moxcollect
