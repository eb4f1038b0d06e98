#include "dptrc/trc_repeat.h"

#include "dptrc/trc_state.h"
#include "dptrc/trc_time.h"

namespace {

// FNV-1a over the code units: lines are told apart by their hash, which is
// far cheaper to keep per trace point than the text.
uint64_t textHash(std::u16string_view text) {
  uint64_t hash = 1469598103934665603ull;
  for (const char16_t unit : text) {
    hash ^= unit;
    hash *= 1099511628211ull;
  }
  return hash;
}

const char* baseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}

void startSecond(TrcRepeatSite& site, time_t now) REQUIRES(trcLock) {
  site.second = now;
  site.texts = 0;
  site.suppressed = 0;
}

void list(TrcRepeatSite& site) REQUIRES(trcLock) {
  if (site.listed) return;
  TrcState& state = trcState();
  site.nextSite = state.repeatSites;
  state.repeatSites = &site;
  site.listed = true;
}

void markPending(TrcRepeatSite& site) REQUIRES(trcLock) {
  if (site.pending) return;
  TrcState& state = trcState();
  site.nextPending = state.pendingRepeats;
  state.pendingRepeats = &site;
  site.pending = true;
}

}  // namespace

void trcReportRepeats(TrcHandle handle, time_t now, bool closing) {
  TrcState& state = trcState();
  TrcRepeatSite* pending = state.pendingRepeats;
  if (pending == nullptr) return;
  // Every pending site counted in the same second: a new second reports
  // them all before its own first line is admitted.
  if (!closing && pending->second == now) return;
  state.pendingRepeats = nullptr;  // the report's own lines must not report again
  const int savedEntryLevel = TrcEntryLevel;
  TrcEntryLevel = 1;
  for (TrcRepeatSite* site = pending; site != nullptr;) {
    TrcRepeatSite* next = site->nextPending;
    site->nextPending = nullptr;
    site->pending = false;
    const unsigned long long count = site->suppressed;
    startSecond(*site, 0);
    DpTrc(handle, "... line of %s:%d repeated %llu times\n", baseName(site->file), site->line, count);
    site = next;
  }
  TrcEntryLevel = savedEntryLevel;
}

bool trcRepeatAdmit(TrcRepeatSite& site, std::u16string_view message, time_t now) {
  list(site);
  if (site.second != now) startSecond(site, now);
  const uint64_t hash = textHash(message);
  for (int i = 0; i < site.texts; ++i) {
    if (site.textHash[i] != hash) continue;
    if (site.textCount[i] < kTrcRepeatLimit) {
      ++site.textCount[i];
      return true;
    }
    ++site.suppressed;
    markPending(site);
    return false;
  }
  // A trace point that alternates between more texts than it can count is
  // not limited; the file's size limit still bounds it.
  if (site.texts < TrcRepeatSite::kTexts) {
    site.textHash[site.texts] = hash;
    site.textCount[site.texts] = 1;
    ++site.texts;
  }
  return true;
}

time_t trcRepeatSecond(const TrcRepeatSite* site) {
  return site != nullptr || trcState().pendingRepeats != nullptr ? trcNowSeconds() : 0;
}

void trcForgetRepeats() {
  TrcState& state = trcState();
  for (TrcRepeatSite* site = state.repeatSites; site != nullptr; site = site->nextSite) {
    startSecond(*site, 0);
    site->pending = false;
    site->nextPending = nullptr;
  }
  state.pendingRepeats = nullptr;
}
