// CMTTraceDataManager: a library's store of transaction traces. Producers
// add traces as records (trace_record.h), or as finished texts; the texts of
// records are made when they are handed over, on the thread that takes them.
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
// Memory: the texts of one hand-over are made in one arena (TraceTextArena,
// at most kMaxKeptBlocks blocks kept from one hand-over to the next), as a
// section's records are.
//
// Locking, in this order: handOverLock (held through a hand-over, so one
// runs at a time), sectionLock (shared while a trace is added,
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
#include "mox/trace/trace_text_arena.h"
#include "thr/thr.h"
#include "thr/thr_plain_mutex.h"

class CMTTraceDataManager {
 public:
  CMTTraceDataManager();
  ~CMTTraceDataManager();
  CMTTraceDataManager(const CMTTraceDataManager&) = delete;
  CMTTraceDataManager& operator=(const CMTTraceDataManager&) = delete;

  // Creates 2 * cache_section_count sections numbered 1..2N (section 1
  // current).
  void init(const CConfiguration& cfg);

  // Appends a copy of a finished text to the current section. Dropped when
  // init has not run.
  void addTrace(std::u16string_view text);
  // Appends a copy of a trace record (trace_record.h), whose text is made
  // when it is handed over. Dropped when init has not run.
  void addRecord(std::u16string_view record);

  // The trace job's half: detaches the current section, makes the texts of
  // its traces in the order added, puts the section back at the end of the
  // ring and calls take with the texts. With fewer than two sections nothing
  // rotates and take gets no texts.
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
  // The texts of records, into handedTexts_.
  void makeTexts(const TraceTexts& records) REQUIRES(handOverLock_);

  ThrPlainMutex handOverLock_;
  TraceTextArena handedTexts_ GUARDED_BY(handOverLock_);
  std::u16string textScratch_ GUARDED_BY(handOverLock_);  // one text at a time, kept

  ThrRwLock* sectionLock_ = nullptr;
  std::vector<std::unique_ptr<CMTTraceSection>> owned_ GUARDED_BY(sectionLock_);  // every section, detached or not
  std::deque<CMTTraceSection*> queue_ GUARDED_BY(sectionLock_);                   // front is current
};
