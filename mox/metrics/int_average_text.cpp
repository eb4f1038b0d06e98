// The IntAverage metric text of one performance record.
#include "mox/metrics/int_average_text.h"

#include <string>
#include <string_view>
#include <utility>

#include "mox/config/perf_metric_scope.h"
#include "mox/metrics/metric_line.h"
#include "mox/metrics/perf_data_manager.h"

namespace {

// Builds the lines of one record: every line names the same prefix and key.
class IntAverageWriter {
 public:
  IntAverageWriter(const MetricFormat& format, std::u16string_view key) : format_(format), line_(format.prefix, key) {}

  void counterLine(std::u16string_view label, int64_t value) { line_.line(kType, label, value); }
  // Counts are unsigned 32-bit and print so: 4294967295, not -1.
  void countLine(std::u16string_view label, uint32_t count) { line_.line(kType, label, count); }

  // An average line; the full form adds max, min and count.
  void averageLine(std::u16string_view label, int64_t average, int64_t max, int64_t min, uint32_t count) {
    line_.open(kType, label, average);
    if (format_.agentType != 0) {
      line_.attribute(u"max", max);
      line_.attribute(u"min", min);
      line_.attribute(u"count", count);
    }
    line_.close();
  }

  std::u16string take() { return line_.take(); }

 private:
  static constexpr std::u16string_view kType = u"IntAverage";
  const MetricFormat& format_;
  MetricLineWriter line_;
};

// Elapsed sums are divided as unsigned 32-bit and printed as signed 32-bit.
int32_t elapsedAverage(int32_t sum, uint32_t count) { return static_cast<int32_t>(static_cast<uint32_t>(sum) / count); }

}  // namespace

std::u16string intAverageText(const PerfValues& v, std::u16string_view key, const MetricFormat& format) {
  const PerfMetricScope scope = format.scope;
  const bool plain = format.agentType == 0;
  IntAverageWriter out(format, key);

  if (countsActive(scope) && !v.skipped) {
    out.countLine(u"Active Counter", v.active);
  }
  out.countLine(u"Finished Counter", v.finished);
  // Timings that ended without their times being added (times are only ever
  // added with an end, so this never goes below zero).
  out.countLine(u"Finished with undefined state", v.terminated - v.count + v.finished);
  if (v.count == 0) return out.take();

  const int64_t count = v.count;
  out.averageLine(u"Avg. Elapsed Time(ms)", elapsedAverage(v.sumElapsed, v.count), v.maxElapsed, v.minElapsed, v.count);
  if (measuresCpu(scope)) {
    out.averageLine(u"Avg. CPU Time(us)", v.sumCpu / count, v.maxCpu, v.minCpu, v.count);
  }
  if (measuresNetElapsed(scope)) {
    out.averageLine(u"Avg. Net Elapsed Time(ms)", elapsedAverage(v.sumNetElapsed, v.count), v.maxNetElapsed,
                    v.minNetElapsed, v.count);
  }
  if (measuresNetCpu(scope)) {
    out.averageLine(u"Avg. Net CPU Time(us)", v.sumNetCpu / count, v.maxNetCpu, v.minNetCpu, v.count);
    return out.take();
  }
  if (plain && printsWatermarks(scope)) {
    out.counterLine(u"Avg. Elapsed Time High Watermark(ms)", v.maxElapsed);
    if (v.maxCpu >= 0) out.counterLine(u"Avg. CPU Time High Watermark(us)", v.maxCpu);
    out.counterLine(u"Avg. Net Elapsed Time High Watermark(ms)", v.maxNetElapsed);
    if (v.maxNetCpu >= 0) out.counterLine(u"Avg. Net CPU Time High Watermark(us)", v.maxNetCpu);
  }
  return out.take();
}

std::u16string CPerfDataManager::formatIntAverage(const CPerfRecord& record, const MetricFormat& format) {
  return intAverageText(record.snapshot(), record.key(), format);
}
