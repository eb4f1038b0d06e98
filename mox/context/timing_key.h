// TimingKeyView: a timing key "component|method" as the caller's two parts,
// so that starting a call need not join them: a call record keeps its key
// and, when the unit of work repeats its calls, only compares the parts with
// it. A key already joined (tests, a record's own key) is one part.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/u16_equal.h"

class TimingKeyView {
 public:
  TimingKeyView(std::u16string_view component, std::u16string_view method) noexcept
      : head_(component), method_(method), split_(true) {}
  // NOLINTNEXTLINE(google-explicit-constructor): a joined key reads as one.
  TimingKeyView(std::u16string_view joined) noexcept : head_(joined) {}
  TimingKeyView(const char16_t* joined) noexcept : head_(joined) {}
  TimingKeyView(const std::u16string& joined) noexcept : head_(joined) {}

  size_t size() const noexcept { return split_ ? head_.size() + 1 + method_.size() : head_.size(); }
  char16_t at(size_t i) const noexcept {
    if (!split_ || i < head_.size()) return head_[i];
    return i == head_.size() ? u'|' : method_[i - head_.size() - 1];
  }
  bool equals(std::u16string_view key) const noexcept {
    if (!split_) return u16Equal(head_, key);
    return key.size() == size() && key[head_.size()] == u'|' && u16Equal(head_, key.substr(0, head_.size())) &&
           u16Equal(method_, key.substr(head_.size() + 1));
  }
  void assignTo(std::u16string& key) const {
    key.assign(head_);
    if (split_) key.append(1, u'|').append(method_);
  }
  std::u16string str() const {
    std::u16string key;
    assignTo(key);
    return key;
  }
  // The key is "component|..." (the name and the separator after it).
  bool ofComponent(std::u16string_view component) const noexcept {
    if (size() <= component.size()) return false;
    for (size_t i = 0; i < component.size(); ++i) {
      if (at(i) != component[i]) return false;
    }
    return at(component.size()) == u'|';
  }

 private:
  std::u16string_view head_;
  std::u16string_view method_;
  bool split_ = false;
};
