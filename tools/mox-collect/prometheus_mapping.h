// How the library's metric lines become Prometheus series.
//
// Every series carries system, process, instance and, when the name has one,
// instance_prefix; then, per owner:
//   - a timing key (IntAverage lines; labels component, method):
//       mox_finished_calls_total, mox_undefined_state_calls_total  sums of
//         "Finished Counter" and "Finished with undefined state";
//       mox_timed_calls_total  sum of the count of "Avg. Elapsed Time(ms)";
//       mox_elapsed_seconds_total, mox_cpu_seconds_total,
//       mox_net_elapsed_seconds_total, mox_net_cpu_seconds_total  sums of
//         average x count of the four "Avg. ..." lines, in seconds;
//       mox_active_calls  the latest "Active Counter";
//       mox_elapsed_max_seconds, mox_cpu_max_seconds,
//       mox_net_elapsed_max_seconds, mox_net_cpu_max_seconds  the latest
//         interval's maximum: the max attribute (full form) or the
//         "... High Watermark(...)" line (plain form);
//   - a resource (LongCounter, LongCounterNone; label resource):
//       mox_resource_value, mox_resource_high_watermark,
//       mox_resource_low_watermark  from "Current Value" with its max and
//         min attributes, or the "High/Low Watermark" lines;
//   - a KPI (a LongCounter line with any other label; labels resource, kpi):
//       mox_kpi;
//   - the version line (label version): mox_library_info 1.
// The plain form leaves the count off the average lines: it is taken as
// finished minus undefined-state calls of the same interval, which is exact
// unless calls were terminated. A negative average or maximum (a time the
// host could not measure) adds nothing and sets nothing.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "record.h"

namespace moxcollect {

// What a series belongs to.
enum class SeriesOwner : uint8_t { Timing, Resource, Kpi, Info };

// The labels of a timing key's lines.
enum TimingLabel : uint8_t {
  kActiveLine,
  kFinishedLine,
  kUndefinedLine,
  kAverageLine,                           // + 0..3: elapsed, CPU, net elapsed, net CPU
  kHighWatermarkLine = kAverageLine + 4,  // + 0..3 in the same order
  kTimingLabels = kHighWatermarkLine + 4,
};

// The labels of a resource's lines (any other label is a KPI).
enum ResourceLabel : uint8_t { kCurrentLine, kHighLine, kLowLine, kResourceLabels };

// The series of each owner, numbered within it: bit n of a series mask.
enum TimingSeries : uint8_t {
  kFinishedTotal,
  kUndefinedTotal,
  kTimedTotal,
  kSecondsTotal,  // + 0..3: elapsed, CPU, net elapsed, net CPU
  kActiveCalls = kSecondsTotal + 4,
  kMaxSeconds,  // + 0..3
  kTimingSeries = kMaxSeconds + 4,
};
enum ResourceSeries : uint8_t { kResourceValue, kResourceHigh, kResourceLow, kResourceSeries };

constexpr size_t kMaxSeriesPerOwner = kTimingSeries;
using SeriesMask = uint16_t;
using SeriesValues = std::array<double, kMaxSeriesPerOwner>;

struct SeriesFamily {
  const char* name;
  const char* help;
  bool counter;  // else a gauge
  SeriesOwner owner;
  uint8_t series;  // its number within the owner
};

// Every family of the library's lines, in the order they are exposed.
const std::array<SeriesFamily, 17>& seriesFamilies();

// One line's numbers.
struct LineValues {
  int64_t value = 0;
  int64_t max = 0;
  int64_t min = 0;
  int64_t count = 0;
  bool hasMax = false;
  bool hasMin = false;
  bool hasCount = false;
};

struct MappedLine {
  enum class Kind : uint8_t { Ignored, Malformed, Timing, Resource, Kpi, Version };
  Kind kind = Kind::Ignored;
  uint8_t label = 0;  // a TimingLabel or ResourceLabel
  LineValues values;
  MetricNameView name;       // the parts of the line's name, pointing into the record
  std::string_view version;  // the version line's value, pointing into the record
};

// Longer names (or version texts) are malformed: every series keeps its
// labels, and the series limit alone must bound the memory they take.
constexpr size_t kMaxNameBytes = 4096;

// Classifies a metric or version line. Malformed: its name does not split
// into process, instance and key (a timing key into component and method),
// is longer than kMaxNameBytes, or a number is not an integer. Ignored: any
// other record, other metric types, and labels of a timing key the mapping
// does not know. Splits the name itself (record.metric need not be filled);
// the line points into the record and is valid while the record is.
MappedLine mapLine(const Record& record);

// The series of its owner that the line makes exist.
SeriesMask seriesOf(const MappedLine& line);

// Adds one interval of a timing key's lines (staged[label] for each label
// bit in `labels`) to its series values.
void applyTimingInterval(const LineValues* staged, uint32_t labels, SeriesValues& values);
// Sets a resource's series from one interval of its lines.
void applyResourceInterval(const LineValues* staged, uint32_t labels, SeriesValues& values);

}  // namespace moxcollect
