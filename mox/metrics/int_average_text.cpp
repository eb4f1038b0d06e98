// The IntAverage metric text of one performance record.
#include <string>
#include <string_view>
#include <utility>

#include "common/number_text.h"
#include "common/xml_escape.h"
#include "mox/metrics/perf_data_manager.h"

namespace {

// Builds the lines of one record: every line names the same prefix and key.
class IntAverageWriter {
 public:
  IntAverageWriter(const MetricFormat& format, std::u16string_view key) : format_(format), key_(key) {}

  void counterLine(std::u16string_view label, int64_t value) {
    open(label);
    appendDecimal(text_, value);
    close();
  }

  // An average line; the full form adds max, min and count.
  void averageLine(std::u16string_view label, int64_t average, int64_t max, int64_t min, uint32_t count) {
    open(label);
    appendDecimal(text_, average);
    if (format_.agentType != 0) {
      text_ += u"\" max=\"";
      appendDecimal(text_, max);
      text_ += u"\" min=\"";
      appendDecimal(text_, min);
      text_ += u"\" count=\"";
      appendDecimal(text_, static_cast<int32_t>(count));
    }
    close();
  }

  std::u16string take() { return std::move(text_); }

 private:
  void open(std::u16string_view label) {
    text_ += u"<metric type=\"IntAverage\" name=\"";
    // Process identity and timing key come from the host.
    appendXmlEscaped(text_, format_.prefix);
    text_ += u'|';
    appendXmlEscaped(text_, key_);
    text_ += u':';
    text_ += label;
    text_ += u"\" value=\"";
  }
  void close() { text_ += u"\" />\n"; }

  const MetricFormat& format_;
  std::u16string_view key_;
  std::u16string text_;
};

// Elapsed sums are divided as unsigned 32-bit and printed as signed 32-bit.
int32_t elapsedAverage(int32_t sum, uint32_t count) {
  return static_cast<int32_t>(static_cast<uint32_t>(sum) / count);
}

bool isSkipped(const MetricFormat& format, std::u16string_view key) {
  return format.isSkipped && format.isSkipped(key);
}

}  // namespace

std::u16string CPerfDataManager::formatIntAverage(const CPerfRecord& record, const MetricFormat& format) {
  const PerfValues v = record.snapshot();
  const uint16_t scope = format.scope;
  const bool plain = format.agentType == 0;
  IntAverageWriter out(format, record.key());

  if (scope != 0 && !isSkipped(format, record.key())) {
    out.counterLine(u"Active Counter", static_cast<int32_t>(v.active));
  }
  out.counterLine(u"Finished Counter", static_cast<int32_t>(v.finished));
  // Timings that ended without their times being added.
  out.counterLine(u"Finished with undefined state", static_cast<int32_t>(v.terminated - v.count + v.finished));
  if (v.count == 0) return out.take();

  const int64_t count = v.count;
  out.averageLine(u"Avg. Elapsed Time(ms)", elapsedAverage(v.sumElapsed, v.count), v.maxElapsed, v.minElapsed,
                  v.count);
  if (scope > 2) {
    out.averageLine(u"Avg. CPU Time(us)", v.sumCpu / count, v.maxCpu, v.minCpu, v.count);
  }
  if (scope == 2 || scope == 4) {
    out.averageLine(u"Avg. Net Elapsed Time(ms)", elapsedAverage(v.sumNetElapsed, v.count), v.maxNetElapsed,
                    v.minNetElapsed, v.count);
  }
  if (scope == 4) {
    out.averageLine(u"Avg. Net CPU Time(us)", v.sumNetCpu / count, v.maxNetCpu, v.minNetCpu, v.count);
    return out.take();
  }
  if (plain && scope == 5) {
    out.counterLine(u"Avg. Elapsed Time High Watermark(ms)", v.maxElapsed);
    if (v.maxCpu >= 0) out.counterLine(u"Avg. CPU Time High Watermark(us)", v.maxCpu);
    out.counterLine(u"Avg. Net Elapsed Time High Watermark(ms)", v.maxNetElapsed);
    if (v.maxNetCpu >= 0) out.counterLine(u"Avg. Net CPU Time High Watermark(us)", v.maxNetCpu);
  }
  return out.take();
}
