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
#include "metric_attributes.h"
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
  AttributePlaces places;  // where the element's metric attributes are (see attributesOf)
  std::string raw;         // the element's bytes exactly as received (empty when no sink reads them)
  size_t bytes = 0;        // how many bytes it had as received (set by the collector, also when raw is empty)
  // Of metric and version lines, filled by the collector's writer thread only when a sink reads them
  // (RecordSink::readsNames); the identity of a trace may stay unknown.
  MetricName metric;
  Identity identity;
  uint64_t connection = 0;  // the collector's number of the connection, from 1
  std::string peer;         // "address:port" of the sending library
  std::string peerHost;     // its address alone
  std::chrono::system_clock::time_point received;
};

// The metric attributes of the record's element, at its places.
MetricAttributes attributesOf(const Record& record);

// Classifies the element and, for metric and version lines, splits the name.
// The identity of a metric or version line is taken from its name.
Record makeRecord(Element&& element, std::string&& raw);
// The same for a record whose element is in place: sets its kind, metric
// name, attribute places and identity (cleared for other kinds), keeping their strings' storage.
void classify(Record& record);

// classify() in two halves, so that the collector's loop does only the cheap
// one and its writer thread the other. kindOf() looks at the element's name
// and, for a metric line, its type and label. splitName() then fills the
// metric name of a metric or version line, and its identity when the name
// names a process; it leaves the identity as it is otherwise (the loop sets
// it from the connection), and clears the metric name of other kinds.
RecordKind kindOf(const Element& element);
// The same with the element's attributes already found.
RecordKind kindOf(const Element& element, const MetricAttributes& attributes);
void splitName(Record& record);
// The identity a metric or version line's name names, and the part of the
// name it is read from (a view into it), so that a caller can tell a name of
// the same process by comparing that prefix alone.
std::string_view identityPrefix(const Element& element);
std::string_view identityPrefix(const MetricAttributes& attributes);
void identityFrom(std::string_view prefix, Identity& identity);

// The memory a record holds outside its fixed size, roughly: the storage of
// its strings and vectors. Decides whether a written record is kept to be
// filled again.
size_t heapBytes(const Record& record);

}  // namespace moxcollect
