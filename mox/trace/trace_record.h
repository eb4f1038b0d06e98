// A transaction trace as its host thread leaves it: a compact record of the
// finished unit of work (the call tree's keys, times, CPU figures and
// information as copies, in the order the text shows them), formatted into
// the trace's XML text later by whoever sends it (formatTraceRecord), so that
// escaping, number and local-time formatting stay off the host's thread.
//
// A record is a run of UTF-16 code units, so the trace store keeps records in
// the same blocks as texts. Each item is one code unit naming it, then its
// fields; numbers take one to five units (15 bits each, low first, the top
// bit of a unit set when another follows), strings their length as a number
// and then their units.
//
// Not thread-safe: a writer appends to one string; formatting reads a record
// that no one changes meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TraceRecordWriter {
 public:
  // Appends to record (which may hold earlier items).
  explicit TraceRecordWriter(std::u16string& record) : record_(record) {}

  // <event resource="KEY" startTime="TIME" duration="D">: TIME is the local
  // time of wallMs (with milliseconds when withMs) when withStartTime, else
  // empty.
  void event(std::u16string_view key, bool withStartTime, int64_t wallMs, bool withMs, int32_t durationMs);
  // <calledComponent resource="KEY" offset="O" duration="D">
  void calledComponent(std::u16string_view key, int32_t offsetMs, int32_t durationMs);
  // <param name="CPU Time (us)" value="US" />
  void cpuTime(int64_t us);
  // <param name="NAME" value="VALUE" />
  void param(std::u16string_view name, std::u16string_view value);
  void endEvent();            // </event>
  void endCalledComponent();  // </calledComponent>
  void endEventLine();        // </event> and a line feed, ending a trace's text
  // Text written as it is (already escaped where it needs to be).
  void text(std::u16string_view verbatim);

  // The record from where it was when the last item began: for taking back
  // the item just written.
  size_t lastItemAt() const { return lastItemAt_; }

 private:
  void begin(char16_t item);
  void number(int64_t value);
  void string(std::u16string_view units);

  std::u16string& record_;
  size_t lastItemAt_ = 0;
};

// The header of a record that is a text as it is, followed by the text's
// units (the store's addTrace: a finished text stored as a record).
std::u16string textRecordHeader(size_t units);

// Appends the trace text of record. Host text is escaped, numbers are
// decimal; a record cut short ends the text where it was cut.
void formatTraceRecord(std::u16string_view record, std::u16string& out);
