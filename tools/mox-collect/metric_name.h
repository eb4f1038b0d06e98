// The parts of a metric name as the library builds it:
//   system "|" process "_" instance [ "|" instance-prefix ] "|" key ":" label
// where key is "component|method" for timings (IntAverage) and the resource
// name for resources (LongCounter, LongCounterNone). The version line has
// only system "|" process "_" instance ":" label.
//
// Splitting is positional, since the library escapes none of the parts: the
// label is the known label the name ends with (else the text after the last
// ":"), the system is the first "|" part, the process and instance the second
// (instance = the trailing decimal after the last "_"), a timing key takes the
// last two of the remaining "|" parts and a resource the last one; what is
// left between is the instance prefix. Names whose component or method holds
// "|" are therefore split at the wrong place; everything else round-trips.
#pragma once

#include <string>
#include <string_view>

namespace moxcollect {

enum class KeyShape { TimingKey, Resource, None };

struct MetricName {
  std::string system;
  std::string process;
  std::string instance;
  std::string instancePrefix;
  std::string key;
  std::string label;
};

// The same parts as views into the name they were split from.
struct MetricNameView {
  std::string_view system;
  std::string_view process;
  std::string_view instance;
  std::string_view instancePrefix;
  std::string_view key;
  std::string_view label;
};

// The shape of the key a metric type carries.
KeyShape keyShapeOf(std::string_view metricType);

MetricName parseMetricName(std::string_view name, KeyShape shape);
// Where the label of a name starts: after its last ':' (npos: none).
size_t labelSeparator(std::string_view name);
// The length of the "system|process_instance" part that starts a name without its label.
size_t processPartLength(std::string_view path);
// The process and instance of a "process_instance" part.
void splitProcessInstance(std::string_view text, std::string& process, std::string& instance);
void splitProcessInstance(std::string_view text, std::string_view& process, std::string_view& instance);
// The same into `out`, whose strings keep their storage.
void parseMetricName(std::string_view name, KeyShape shape, MetricName& out);
// The parts without copying them: for a reader that needs them only while the name lives.
void splitMetricName(std::string_view name, KeyShape shape, MetricNameView& out);

}  // namespace moxcollect
