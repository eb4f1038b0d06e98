// CMTTraceDataManager: a library's store of transaction-trace texts.
//
// The store is a ring of 2 * cache_section_count sections; the front of the
// queue is the current section, into which producers add. The trace job has
// the texts handed over (handOverTexts): the front is detached, its texts
// given to the job, which sends them, and it goes back at the end of the
// ring, emptied: the blocks its texts were in go to the current section.
// Otherwise each section of the ring would keep blocks of its own, so that a
// started library first-touches fresh memory for 2N rounds, and a round's
// texts land in memory last touched 2N rounds before, long out of the caches.
//
// Locking, in this order: sectionLock (shared while a text is added,
// exclusive while the ring rotates or a section is put back), then a
// section's own lock.
//
// Lifetime: the owner (the library object) destroys it with its sections;
// callers must have left every operation before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mox/config/configuration.h"
#include "mox/trace/trace_section.h"
#include "thr/thr.h"

class CMTTraceDataManager {
 public:
  CMTTraceDataManager();
  ~CMTTraceDataManager();
  CMTTraceDataManager(const CMTTraceDataManager&) = delete;
  CMTTraceDataManager& operator=(const CMTTraceDataManager&) = delete;

  // Creates 2 * cache_section_count sections numbered 1..2N (section 1
  // current).
  void init(const CConfiguration& cfg);

  // Appends a copy of text to the current section. Dropped when init has not
  // run.
  void addTrace(std::u16string_view text);

  // The trace job's half: detaches the current section, calls take with its
  // texts in the order added (under the section's lock shared) and puts the
  // section back at the end of the ring. With fewer than two sections
  // nothing rotates and take gets no texts.
  void handOverTexts(const std::function<void(const TraceTexts&)>& take);
  // The texts handOverTexts hands over, copied.
  std::vector<std::u16string> takeTexts();

  // Detaches and returns the current section; the next one becomes current
  // and is emptied. nullptr when the store has fewer than two sections.
  CMTTraceSection* switchSection();
  // Empties a detached section, appends it at the back of the ring and gives
  // its blocks to the current section.
  void putBack(CMTTraceSection* section);
  bool isEmpty(const CMTTraceSection* section) const;
  size_t sectionCount() const;

  // The version event line for the given prefix ("<system>|<process>_<instance>").
  static std::u16string versionEventText(const std::u16string& versionPrefix);

 private:
  void appendSection(CMTTraceSection* section) REQUIRES(sectionLock_);

  ThrRwLock* sectionLock_ = nullptr;
  std::vector<std::unique_ptr<CMTTraceSection>> owned_ GUARDED_BY(sectionLock_);  // every section, detached or not
  std::deque<CMTTraceSection*> queue_ GUARDED_BY(sectionLock_);                   // front is current
};
