#include "dptrc/trc_output.h"

#include <cstdint>
#include <functional>

#include "common/utf.h"
#include "dptrc/trc_time.h"

namespace {

constexpr int kMaxIndent = 31;

// A thread's record is just its last time-stamp second, stored in the key's
// slot itself as second + 1 (an empty slot is "no record"). Nothing is
// allocated, so threads that end without ThrExit leave nothing behind.
void* encodeSecond(time_t second) { return reinterpret_cast<void*>(static_cast<uintptr_t>(second) + 1); }
time_t decodeSecond(void* slot) { return static_cast<time_t>(reinterpret_cast<uintptr_t>(slot) - 1); }

// The calling thread's remembered second, creating a zero record on first
// use; nullptr-equivalent false when the record cannot be created.
bool threadSecond(time_t& second) REQUIRES(trcLock) {
  TrcState& state = trcState();
  void* slot = ThrKeyVarGet(&state.secondKey);
  if (slot == nullptr) {
    if (ThrKeyVarSet(&state.secondKey, encodeSecond(0)) != THR_OK) {
      trcEmitAscii("CTrcIGetThrAdm: ThrKeyVarGet failed\n");
      return false;
    }
    slot = encodeSecond(0);
  }
  second = decodeSecond(slot);
  return true;
}

}  // namespace

TrcTarget trcResolve(TrcHandle handle) {
  TrcState& state = trcState();
  // std::less: a total order even for pointers that are not into the table.
  const std::less<const TrcComp*> before;
  const bool inTable = !before(handle, &state.comps[1]) && before(handle, &state.comps[state.nextComp]);
  if (!state.file.isOpen() || !inTable) {
    return TrcTarget{&state.standardError, &state.fallbackComp, false};
  }
  // One stream, one record of what it took: standard error keeps its own
  // line state and count of dropped writes across opens and closes.
  return TrcTarget{state.file.standardError ? &state.standardError : &state.file, handle, true};
}

void trcAppendPrefix(std::u16string& line, const TrcComp& comp) {
  line.push_back(comp.letter);
  line.append(2, u' ');
  int indent = 2 * comp.depth;
  if (indent > kMaxIndent) indent = kMaxIndent;
  if (indent > 0) line.append(static_cast<size_t>(indent), u' ');
}

void trcAppendThreadTag(std::u16string& line) {
  line.append(u"[Thr ");
  const ThrId id = ThrGetCurrentId();
  char16_t digits[16] = {};
  const int length = id == THR_INVALID_ID ? 0 : ThrIdToString(digits, sizeof digits / sizeof digits[0], id);
  if (length <= 0) {
    line.append(u"???");
  } else {
    if (length < 2) line.push_back(u' ');  // width 2, right-aligned
    line.append(digits, static_cast<size_t>(length));
  }
  line.append(u"] ");
}

void trcWriteTimeStampIfDue(const TrcTarget& target) {
  TrcState& state = trcState();
  TrcOutput& out = *target.out;
  const time_t now = trcNowSeconds();
  time_t last = 0;
  const bool ownRecord = target.threadRecord && threadSecond(last);
  if (!ownRecord) last = state.processSecond;
  if (now == last && !out.stampDue) return;
  out.stampDue = false;
  if (ownRecord) {
    ThrKeyVarSet(&state.secondKey, encodeSecond(now));
  } else {
    state.processSecond = now;
  }

  std::u16string& stamp = state.stamp;
  stamp.clear();
  const char16_t letter = target.comp->letter;
  if (TrcLevel.load(std::memory_order_relaxed) == 1) {
    stamp.push_back(letter);
    stamp.append(u"  \n");
  }
  stamp.push_back(letter);
  stamp.push_back(u' ');
  trcAppendThreadTag(stamp);
  if (trcAppendAscTime(now, stamp)) {
    stamp.push_back(u'\n');
  } else {
    stamp.append(u"ERROR IN THRASCTIME\n");
  }
  trcEmit(stamp);
  trcFlush(out);
}

void trcFreeThreadRecord() {
  TrcState& state = trcState();
  if (state.secondKey.slot.load(std::memory_order_relaxed) != THR_KEY_NONE) ThrKeyVarSet(&state.secondKey, nullptr);
}
