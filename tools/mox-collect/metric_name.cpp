#include "metric_name.h"

#include <string.h>

#include <algorithm>
#include <cstdint>

namespace moxcollect {

namespace {

// The last c in text[0, end), or npos. What is looked for mostly lies in the
// last few bytes (a label, a method): those are looked at one by one, since a
// call costs more than a short scan, and the rest with memrchr, a word at a time.
size_t lastOf(std::string_view text, char c, size_t end) {
  constexpr size_t kShort = 48;
  const size_t shortFrom = end > kShort ? end - kShort : 0;
  for (size_t i = end; i > shortFrom; --i) {
    if (text[i - 1] == c) return i - 1;
  }
  if (shortFrom == 0) return std::string_view::npos;
  const void* found = memrchr(text.data(), c, shortFrom);
  return found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - text.data()) : std::string_view::npos;
}

// Where the last `parts` "|" parts of text begin: the position after the bar
// before them, or 0 when text has no more parts than that.
size_t lastPartsFrom(std::string_view text, size_t parts) {
  size_t end = text.size();
  for (size_t i = 0; i < parts; ++i) {
    const size_t bar = lastOf(text, '|', end);
    if (bar == std::string_view::npos) return 0;
    end = bar;
  }
  return end + 1;
}

}  // namespace

// Every label the library writes ("Finished Counter", "Avg. Elapsed Time(ms)",
// "MOX library version", ...) is free of ':', so the last ':' is where the
// label starts even when the key itself contains ':'.
size_t labelSeparator(std::string_view name) { return lastOf(name, ':', name.size()); }

size_t processPartLength(std::string_view path) {
  const size_t firstBar = path.find('|');
  if (firstBar == std::string_view::npos) return path.size();
  const size_t secondBar = path.find('|', firstBar + 1);
  return secondBar == std::string_view::npos ? path.size() : secondBar;
}

void splitProcessInstance(std::string_view text, std::string_view& process, std::string_view& instance) {
  const size_t underscore = lastOf(text, '_', text.size());
  if (underscore != std::string_view::npos) {
    std::string_view digits = text.substr(underscore + 1);
    if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
    if (!digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      process = text.substr(0, underscore);
      instance = text.substr(underscore + 1);
      return;
    }
  }
  process = text;
  instance = std::string_view();
}

void splitProcessInstance(std::string_view text, std::string& process, std::string& instance) {
  std::string_view processView;
  std::string_view instanceView;
  splitProcessInstance(text, processView, instanceView);
  process.assign(processView);
  instance.assign(instanceView);
}

KeyShape keyShapeOf(std::string_view metricType) {
  if (metricType == "IntAverage") return KeyShape::TimingKey;
  if (metricType == "LongCounter" || metricType == "LongCounterNone") return KeyShape::Resource;
  return KeyShape::None;
}

void splitMetricName(std::string_view name, KeyShape shape, MetricNameView& out) {
  out = MetricNameView();
  const size_t colon = labelSeparator(name);
  std::string_view path = name;
  if (colon != std::string_view::npos) {
    out.label = name.substr(colon + 1);
    path = name.substr(0, colon);
  }
  // system | process_instance | the rest, whose "|" parts are the key and the instance prefix.
  const size_t firstBar = path.find('|');
  out.system = path.substr(0, firstBar);
  if (firstBar == std::string_view::npos) return;
  const std::string_view afterSystem = path.substr(firstBar + 1);
  const size_t secondBar = afterSystem.find('|');
  splitProcessInstance(afterSystem.substr(0, secondBar), out.process, out.instance);
  if (secondBar == std::string_view::npos) return;

  const std::string_view rest = afterSystem.substr(secondBar + 1);
  const size_t keyParts = shape == KeyShape::TimingKey ? 2 : shape == KeyShape::Resource ? 1 : SIZE_MAX;
  const size_t keyFrom = keyParts == SIZE_MAX ? 0 : lastPartsFrom(rest, keyParts);
  out.key = rest.substr(keyFrom);
  if (keyFrom > 0) out.instancePrefix = rest.substr(0, keyFrom - 1);
}

void parseMetricName(std::string_view name, KeyShape shape, MetricName& out) {
  MetricNameView parts;
  splitMetricName(name, shape, parts);
  out.system.assign(parts.system);
  out.process.assign(parts.process);
  out.instance.assign(parts.instance);
  out.instancePrefix.assign(parts.instancePrefix);
  out.key.assign(parts.key);
  out.label.assign(parts.label);
}

MetricName parseMetricName(std::string_view name, KeyShape shape) {
  MetricName out;
  parseMetricName(name, shape, out);
  return out;
}

}  // namespace moxcollect
