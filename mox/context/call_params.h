// CallParams: the information appended to one call (name -> value), kept in
// code unit order of the names for the trace text.
//
// A call record is reused for call after call; clear keeps the entries and
// their strings' memory, so that the appends of later calls copy into it
// instead of allocating a tree node and strings each time. Strings grown past
// kKeptUnits are given back at clear, so one huge value does not pin its
// memory in a spare record.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class CallParams {
 public:
  struct Entry {
    std::u16string name;
    std::u16string value;
  };
  static constexpr size_t kKeptUnits = 1024;

  // The value of name; nullptr when name was not appended.
  std::u16string* find(std::u16string_view name);
  // Adds name, which must not be there yet, with value.
  void insert(std::u16string_view name, std::u16string_view value);
  // Inline: a record is cleared at every reuse, and most calls have no parameters.
  void clear() {
    if (used_ != 0) clearUsed();
  }

  bool empty() const { return used_ == 0; }
  size_t size() const { return used_; }
  const Entry* begin() const { return entries_.data(); }
  const Entry* end() const { return entries_.data() + used_; }

 private:
  void clearUsed();
  // Entries [0, used_) are in use, sorted by name; the rest are spares.
  std::vector<Entry> entries_;
  size_t used_ = 0;
};
