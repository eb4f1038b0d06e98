#include "mox/config/config_table.h"

#include "mox/config/number_reading.h"

namespace moxconfig {
namespace {

constexpr size_t kRowCount = sizeof kTable / sizeof kTable[0];
static_assert(kRowCount == kKeyCount, "one row per key");

constexpr bool rowsFollowKeys() {
  for (size_t i = 0; i < kRowCount; ++i) {
    if (static_cast<size_t>(kTable[i].id) != i) return false;
  }
  return true;
}
static_assert(rowsFollowKeys(), "row i describes Key i");

constexpr bool sameText(const char16_t* a, const char16_t* b) {
  while (*a != u'\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

constexpr bool keysAreUnique() {
  for (size_t i = 0; i < kRowCount; ++i) {
    for (size_t j = i + 1; j < kRowCount; ++j) {
      if (sameText(kTable[i].key, kTable[j].key)) return false;
    }
  }
  return true;
}
static_assert(keysAreUnique(), "each key text once");

// Agent N's key is agent 1's key, "_" and N.
constexpr bool isAgentKey(const char16_t* first, const char16_t* key, int agent) {
  while (*first != u'\0' && *first == *key) ++first, ++key;
  return *first == u'\0' && key[0] == u'_' && key[1] == u'0' + agent && key[2] == u'\0';
}

constexpr bool agentKeysFollowEachOther() {
  for (const Key first : {kAgentType, kAgentPort, kAgentHost}) {
    for (int i = 1; i < kAgentCount; ++i) {
      if (!isAgentKey(keyText(first), keyText(agentKey(first, i)), i + 1)) return false;
    }
  }
  return true;
}
static_assert(agentKeysFollowEachOther(), "agent N's keys follow agent 1's");

// A limit may only read a field that the same pass has derived before it.
constexpr bool limitsReadEarlierFields() {
  for (size_t i = 0; i < kRowCount; ++i) {
    const Key other = kTable[i].limit.other;
    if (other == kKeyCount) continue;
    if (static_cast<size_t>(other) >= i || !hasField(kTable[other]) || !hasField(kTable[i])) return false;
  }
  return true;
}
static_assert(limitsReadEarlierFields(), "a limit names a typed key of an earlier row");

// Text keys have no field to limit or to initialise.
constexpr bool textRowsArePlain() {
  for (const Entry& entry : kTable) {
    if (!hasField(entry) && (entry.limit.kind != LimitKind::kNone || entry.initial != 0)) return false;
  }
  return true;
}
static_assert(textRowsArePlain(), "text rows carry no limit and no initial value");

constexpr bool initialValuesFit() {
  for (const Entry& entry : kTable) {
    if (entry.type == kU16 && entry.initial > 0xFFFFu) return false;
  }
  return true;
}
static_assert(initialValuesFit(), "initial values fit their fields");

uint32_t cutToWidth(Type type, uint32_t value) { return type == kU16 ? value & 0xFFFFu : value; }

}  // namespace

bool convertValue(const Entry& entry, std::u16string_view text, uint32_t other, uint32_t& value) {
  const Limit& limit = entry.limit;
  if (text.empty() && limit.kind == LimitKind::kOnlyWhenGiven) return false;
  if (text.empty() && limit.kind == LimitKind::kEmptyFollows) {
    value = other;
    return true;
  }
  value = cutToWidth(entry.type, readNumber(text));
  const uint32_t minimum = limit.other == kKeyCount ? limit.minimum : other;
  const bool raise = limit.kind == LimitKind::kAtLeast || (limit.kind == LimitKind::kAtLeastUnlessZero && value != 0);
  if (raise && value < minimum) value = minimum;
  return true;
}

}  // namespace moxconfig
