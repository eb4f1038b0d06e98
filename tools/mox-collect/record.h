// What the collector makes of one top-level element of a library stream.
//
// Kinds: a metric line (<metric> with type IntAverage, LongCounter or
// LongCounterNone, or any other type), the version line sent once per start
// (<metric type="StringEvent"> with the label "MOX library version"), a
// transaction trace (<event> with nested <calledComponent> and <param>), or
// any other element, which is passed on but not interpreted.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "element.h"
#include "metric_name.h"

namespace moxcollect {

enum class RecordKind { Metric, Version, Trace, Other };

const char* kindName(RecordKind kind);

// The library process a record came from. Metric names carry it; traces
// take it from the version line of their connection.
struct Identity {
  std::string system;
  std::string process;
  std::string instance;

  bool known() const { return !system.empty() || !process.empty() || !instance.empty(); }
  bool operator==(const Identity& other) const {
    return system == other.system && process == other.process && instance == other.instance;
  }
  bool operator!=(const Identity& other) const { return !(*this == other); }
};

struct Record {
  RecordKind kind = RecordKind::Other;
  Element element;
  std::string raw;          // the element's bytes exactly as received
  MetricName metric;        // metric and version lines only
  Identity identity;        // may stay unknown for a trace
  uint64_t connection = 0;  // the collector's number of the connection, from 1
  std::string peer;         // "address:port" of the sending library
  std::string peerHost;     // its address alone
  std::chrono::system_clock::time_point received;
};

// Classifies the element and, for metric and version lines, splits the name.
// The identity of a metric or version line is taken from its name.
Record makeRecord(Element&& element, std::string&& raw);
// The same for a record whose element is in place: sets its kind, metric
// name and identity (cleared for other kinds), keeping their strings' storage.
void classify(Record& record);

// The memory a record holds outside its fixed size, roughly: the storage of
// its strings and vectors. Decides whether a written record is kept to be
// filled again.
size_t heapBytes(const Record& record);

}  // namespace moxcollect
