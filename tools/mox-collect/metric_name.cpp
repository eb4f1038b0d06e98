#include "metric_name.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace moxcollect {

namespace {

// Labels the library writes; a name that ends with one of them is split
// there even when the key itself contains ":".
constexpr std::array<std::string_view, 15> kKnownLabels = {
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
    "Current Value",
    "High Watermark",
    "Low Watermark",
    "MOX library version",
};

size_t labelSeparator(std::string_view name) {
  for (std::string_view label : kKnownLabels) {
    if (name.size() > label.size() && name.substr(name.size() - label.size()) == label &&
        name[name.size() - label.size() - 1] == ':') {
      return name.size() - label.size() - 1;
    }
  }
  return name.rfind(':');
}

std::vector<std::string_view> splitBars(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t from = 0;
  for (size_t bar = text.find('|'); bar != std::string_view::npos; bar = text.find('|', from)) {
    parts.push_back(text.substr(from, bar - from));
    from = bar + 1;
  }
  parts.push_back(text.substr(from));
  return parts;
}

std::string joinBars(const std::vector<std::string_view>& parts, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to; ++i) {
    if (i > from) out += '|';
    out.append(parts[i]);
  }
  return out;
}

void splitProcessInstance(std::string_view text, MetricName& out) {
  const size_t underscore = text.rfind('_');
  if (underscore != std::string_view::npos) {
    std::string_view digits = text.substr(underscore + 1);
    if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
    if (!digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      out.process.assign(text.substr(0, underscore));
      out.instance.assign(text.substr(underscore + 1));
      return;
    }
  }
  out.process.assign(text);
}

}  // namespace

KeyShape keyShapeOf(std::string_view metricType) {
  if (metricType == "IntAverage") return KeyShape::TimingKey;
  if (metricType == "LongCounter" || metricType == "LongCounterNone") return KeyShape::Resource;
  return KeyShape::None;
}

MetricName parseMetricName(std::string_view name, KeyShape shape) {
  MetricName out;
  const size_t colon = labelSeparator(name);
  std::string_view path = name;
  if (colon != std::string_view::npos) {
    out.label.assign(name.substr(colon + 1));
    path = name.substr(0, colon);
  }
  const std::vector<std::string_view> parts = splitBars(path);
  out.system.assign(parts[0]);
  if (parts.size() < 2) return out;
  splitProcessInstance(parts[1], out);

  const size_t rest = parts.size() - 2;
  const size_t keyParts = shape == KeyShape::TimingKey ? 2 : shape == KeyShape::Resource ? 1 : rest;
  const size_t taken = std::min(keyParts, rest);
  out.key = joinBars(parts, parts.size() - taken, parts.size());
  out.instancePrefix = joinBars(parts, 2, parts.size() - taken);
  return out;
}

}  // namespace moxcollect
