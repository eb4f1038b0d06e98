#include "mox/trace/trace_record.h"

#include "common/number_text.h"
#include "common/xml_escape.h"
#include "dptrc/dptrc.h"
#include "port/thread_owned.h"

namespace {

enum Item : char16_t {
  kEvent = 1,
  kCalledComponent,
  kCpuTime,
  kParam,
  kEndEvent,
  kEndCalledComponent,
  kText,
  kEndEventLine,
};

// Numbers are mostly small (lengths, offsets, durations): each takes as
// many units as its 64 bits need in groups of 15, low group first, the top
// bit of a unit set when another follows. A record is mostly numbers and
// short keys, so this halves the memory a trace copies and touches; a
// negative number takes the most units.
constexpr size_t kMaxNumberUnits = 5;  // ceil(64 / 15)
constexpr char16_t kMoreUnits = 0x8000;
constexpr uint64_t kGroupMask = 0x7FFF;

// Converting a second to local time costs more than the rest of a small
// trace, and start times within one second share their text up to the
// milliseconds: the formatting thread keeps the text of the last second it
// converted.
struct LocalSecond {
  int64_t second = -1;
  std::u16string text;
  bool converted = false;  // false: the text is the error text, without milliseconds
};
using LastSecond = ThreadOwned<struct LastSecondTag, LocalSecond>;

// The text CMTCallRecord::startTime() gives for wallMs, appended.
void appendLocalTime(std::u16string& out, int64_t wallMs, bool withMs) {
  if (wallMs < 0) {
    out += trcFormatLocalTime(wallMs, withMs);
    return;
  }
  LocalSecond& cached = LastSecond::get();
  const int64_t second = wallMs / 1000;
  if (cached.second != second) {
    cached.text = trcFormatLocalTime(second * 1000, false);
    cached.converted = cached.text != trcFormatLocalTime(-1, false);
    cached.second = second;
  }
  out += cached.text;
  if (!withMs || !cached.converted) return;
  out += u'.';
  appendPaddedDecimal(out, wallMs % 1000, 3, u'0');
}

void appendParam(std::u16string& out, std::u16string_view name, std::u16string_view value) {
  out += u"<param name=\"";
  appendXmlEscaped(out, name);
  out += u"\" value=\"";
  appendXmlEscaped(out, value);
  out += u"\" />";
}

// Reads a record's fields in order; a read past the end fails and every
// later read fails too.
class RecordReader {
 public:
  explicit RecordReader(std::u16string_view record) : rest_(record) {}
  bool done() const { return rest_.empty() || failed_; }
  bool failed() const { return failed_; }

  char16_t item() {
    if (rest_.empty()) return fail();
    const char16_t unit = rest_[0];
    rest_.remove_prefix(1);
    return unit;
  }
  int64_t number() {
    uint64_t bits = 0;
    for (size_t i = 0; i < kMaxNumberUnits && i < rest_.size(); ++i) {
      bits |= (rest_[i] & kGroupMask) << (15 * i);
      if ((rest_[i] & kMoreUnits) == 0) {
        rest_.remove_prefix(i + 1);
        return static_cast<int64_t>(bits);
      }
    }
    return fail();
  }
  std::u16string_view string() {
    const int64_t size = number();
    if (failed_ || size < 0 || static_cast<uint64_t>(size) > rest_.size()) {
      fail();
      return {};
    }
    std::u16string_view units = rest_.substr(0, static_cast<size_t>(size));
    rest_.remove_prefix(units.size());
    return units;
  }

 private:
  char16_t fail() {
    failed_ = true;
    rest_ = {};
    return 0;
  }
  std::u16string_view rest_;
  bool failed_ = false;
};

// Formats the item just read; false when the record ends within it.
bool formatItem(char16_t item, RecordReader& in, std::u16string& out) {
  switch (item) {
    case kEvent: {
      const std::u16string_view key = in.string();
      const int64_t flags = in.number();
      const int64_t wallMs = in.number();
      const int64_t duration = in.number();
      if (in.failed()) return false;
      out += u"<event resource=\"";
      appendXmlEscaped(out, key);
      out += u"\" startTime=\"";
      // The start time is digits, spaces and punctuation: nothing to escape.
      if ((flags & 1) != 0) appendLocalTime(out, wallMs, (flags & 2) != 0);
      out += u"\" duration=\"";
      appendDecimal(out, duration);
      out += u"\">";
      return true;
    }
    case kCalledComponent: {
      const std::u16string_view key = in.string();
      const int64_t offset = in.number();
      const int64_t duration = in.number();
      if (in.failed()) return false;
      out += u"<calledComponent resource=\"";
      appendXmlEscaped(out, key);
      out += u"\" offset=\"";
      appendDecimal(out, offset);
      out += u"\" duration=\"";
      appendDecimal(out, duration);
      out += u"\">";
      return true;
    }
    case kCpuTime: {
      const int64_t us = in.number();
      if (in.failed()) return false;
      out += u"<param name=\"CPU Time (us)\" value=\"";
      appendDecimal(out, us);
      out += u"\" />";
      return true;
    }
    case kParam: {
      const std::u16string_view name = in.string();
      const std::u16string_view value = in.string();
      if (in.failed()) return false;
      appendParam(out, name, value);
      return true;
    }
    case kEndEvent: out += u"</event>"; return true;
    case kEndCalledComponent: out += u"</calledComponent>"; return true;
    case kEndEventLine: out += u"</event>\n"; return true;
    case kText: {
      const std::u16string_view verbatim = in.string();
      if (in.failed()) return false;
      out += verbatim;
      return true;
    }
    default: return false;
  }
}

void appendNumber(std::u16string& out, int64_t value) {
  // Made on the stack and appended at once: one size check, not one per unit.
  char16_t units[kMaxNumberUnits];
  size_t count = 0;
  uint64_t bits = static_cast<uint64_t>(value);
  while (bits > kGroupMask) {
    units[count++] = static_cast<char16_t>((bits & kGroupMask) | kMoreUnits);
    bits >>= 15;
  }
  units[count++] = static_cast<char16_t>(bits);
  out.append(units, count);
}

}  // namespace

void TraceRecordWriter::begin(char16_t item) {
  lastItemAt_ = record_.size();
  record_ += item;
}

void TraceRecordWriter::number(int64_t value) { appendNumber(record_, value); }

void TraceRecordWriter::string(std::u16string_view units) {
  number(static_cast<int64_t>(units.size()));
  record_ += units;
}

void TraceRecordWriter::event(std::u16string_view key, bool withStartTime, int64_t wallMs, bool withMs,
                              int32_t durationMs) {
  begin(kEvent);
  string(key);
  number((withStartTime ? 1 : 0) | (withMs ? 2 : 0));
  number(wallMs);
  number(durationMs);
}

void TraceRecordWriter::calledComponent(std::u16string_view key, int32_t offsetMs, int32_t durationMs) {
  begin(kCalledComponent);
  string(key);
  number(offsetMs);
  number(durationMs);
}

void TraceRecordWriter::cpuTime(int64_t us) {
  begin(kCpuTime);
  number(us);
}

void TraceRecordWriter::param(std::u16string_view name, std::u16string_view value) {
  begin(kParam);
  string(name);
  string(value);
}

void TraceRecordWriter::endEvent() { begin(kEndEvent); }

void TraceRecordWriter::endCalledComponent() { begin(kEndCalledComponent); }

void TraceRecordWriter::endEventLine() { begin(kEndEventLine); }

void TraceRecordWriter::text(std::u16string_view verbatim) {
  begin(kText);
  string(verbatim);
}

std::u16string textRecordHeader(size_t units) {
  std::u16string header(1, kText);
  appendNumber(header, static_cast<int64_t>(units));
  return header;
}

void formatTraceRecord(std::u16string_view record, std::u16string& out) {
  RecordReader in(record);
  while (!in.done()) {
    if (!formatItem(in.item(), in, out)) return;
  }
}
