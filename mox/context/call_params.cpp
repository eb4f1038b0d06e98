#include "mox/context/call_params.h"

#include <algorithm>

namespace {

// Code unit order, as std::u16string's operator< orders.
bool nameBefore(const CallParams::Entry& entry, std::u16string_view name) {
  return std::u16string_view(entry.name) < name;
}

}  // namespace

std::u16string* CallParams::find(std::u16string_view name) {
  auto last = entries_.begin() + static_cast<std::ptrdiff_t>(used_);
  auto at = std::lower_bound(entries_.begin(), last, name, nameBefore);
  return at != last && at->name == name ? &at->value : nullptr;
}

void CallParams::insert(std::u16string_view name, std::u16string_view value) {
  if (used_ == entries_.size()) entries_.emplace_back();
  Entry& spare = entries_[used_];
  spare.name.assign(name);
  spare.value.assign(value);
  auto first = entries_.begin();
  auto last = first + static_cast<std::ptrdiff_t>(used_);
  auto at = std::lower_bound(first, last, name, nameBefore);
  // Moves the filled spare into place by swapping strings, not copying them.
  std::rotate(at, last, last + 1);
  ++used_;
}

void CallParams::clearUsed() {
  for (size_t i = 0; i < used_; ++i) {
    Entry& entry = entries_[i];
    if (entry.name.capacity() > kKeptUnits) std::u16string().swap(entry.name);
    if (entry.value.capacity() > kKeptUnits) std::u16string().swap(entry.value);
  }
  used_ = 0;
}
