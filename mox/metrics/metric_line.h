// The writer of metric lines, shared by every metric type:
//   <metric type="TYPE" name="PREFIX|KEY:LABEL" value="V" a="1" b="2" />\n
// (the name is the metric name prefix, "|", the timing key or resource name,
// ":" and the label). Values are decimal, signed or unsigned as their C++ type
// is (counts are unsigned 32-bit). The pieces of the name come from
// the host (process identity, keys, resource and KPI names) and are escaped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "common/number_text.h"
#include "common/xml_escape.h"

class MetricLineWriter {
 public:
  MetricLineWriter(std::u16string_view prefix, std::u16string_view key) : prefix_(prefix), key_(key) {}

  // A whole line with one value.
  template <typename Value>
  void line(std::u16string_view type, std::u16string_view label, Value value) {
    open(type, label, value);
    close();
  }
  // A line left open for attributes after its value.
  template <typename Value>
  void open(std::u16string_view type, std::u16string_view label, Value value) {
    text_ += u"<metric type=\"";
    text_ += type;
    text_ += u"\" name=\"";
    appendXmlEscaped(text_, prefix_);
    text_ += u'|';
    appendXmlEscaped(text_, key_);
    text_ += u':';
    appendXmlEscaped(text_, label);
    text_ += u"\" value=\"";
    appendDecimal(text_, value);
  }
  template <typename Value>
  void attribute(std::u16string_view name, Value value) {
    text_ += u"\" ";
    text_ += name;
    text_ += u"=\"";
    appendDecimal(text_, value);
  }
  void close() { text_ += u"\" />\n"; }

  std::u16string take() { return std::move(text_); }

 private:
  std::u16string_view prefix_;
  std::u16string_view key_;
  std::u16string text_;
};
