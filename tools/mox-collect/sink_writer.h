// Carries records from the collector's loop to the sinks on a thread of its
// own, through a queue bounded in bytes, so that a slow or blocked output (a
// pipe on standard output that nobody reads, a slow disk) never stops the
// loop from reading its peers. A record that finds the queue full is dropped
// and counted.
//
// The writer thread writes records in the order they were queued, flushes the
// sinks whenever the queue has run empty, and ticks them by the steady clock
// when they ask for it (nextTick). When a sink fails, onFailure runs once on
// the writer thread.
//
// One thread produces. Records travel in batches: the producer fills slots of
// the batch it holds (slot(), commit()) and hands the batch over with
// publish(), under one lock and with at most one wake-up of the writer, rather
// than one of each per record. A batch is published by itself once it holds
// kBatchRecords. Written batches come back with their records, which keep
// their strings' storage for the next ones (those that grew large are emptied),
// so that in a steady stream records are filled without allocating.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "record_sink.h"

namespace moxcollect {

class SinkWriter {
 public:
  static constexpr size_t kDefaultQueueBytes = 64u << 20;
  static constexpr size_t kBatchRecords = 256;

  // prepare: runs on the writer thread on each record before the sinks get it
  // (work taken off the producer's thread).
  SinkWriter(std::vector<RecordSink*> sinks, size_t maxQueuedBytes, std::function<void()> onFailure,
             std::function<void(Record&)> prepare = {});
  // Finishes first when started and not finished; waits for the sinks however long they take.
  ~SinkWriter();
  SinkWriter(const SinkWriter&) = delete;
  SinkWriter& operator=(const SinkWriter&) = delete;

  void start();

  // The record to fill next. It may hold an earlier record's values: the
  // producer assigns every field before commit().
  Record& slot();
  // Queues the filled slot; false when it was dropped because the queue is
  // full (counted at once). A record larger than the whole queue still passes
  // when the queue is empty. The writer sees it after the next publish().
  bool commit();
  // Hands the committed records to the writer thread.
  void publish();
  // slot(), commit() and publish() for one record.
  bool push(Record&& record);

  // Publishes, takes no more records, writes what is queued and finishes
  // every sink. True when done. False when the sinks made no progress for
  // `stall` (a blocked output): the records not written are counted as
  // dropped and the writer thread is left waiting in its sink; the owner then
  // ends the process without destroying the writer.
  bool finish(std::chrono::milliseconds stall);

  bool failed() const { return failed_; }
  uint64_t dropped() const { return dropped_; }

  // What a queued record is counted as: its bytes as received four times
  // over (the parsed element, the split name and the text itself) plus the
  // record's fixed part, whether or not its text was kept.
  static size_t costOf(const Record& record) { return sizeof(Record) + 4 * std::max(record.raw.size(), record.bytes); }

 private:
  struct Batch {
    std::vector<Record> slots;  // the first `used` are queued records, the others spare
    size_t used = 0;
    size_t bytes = 0;  // what the queued ones count
  };

  void run();
  void waitForWork(std::unique_lock<std::mutex>& lock);
  void writeAll(Batch& batch);
  void giveBack(std::vector<Batch>& written);
  void checkFailure();

  std::vector<RecordSink*> sinks_;
  size_t maxQueuedBytes_;
  std::function<void()> onFailure_;
  std::function<void(Record&)> prepare_;

  Batch filling_;  // the producer's, outside the lock

  std::mutex mutex_;
  std::condition_variable work_;  // the writer waits here for records or the stop
  std::condition_variable done_;  // finish() waits here
  std::vector<Batch> queue_;      // published, in order
  std::vector<Batch> spare_;      // written, to be filled again
  bool finished_ = false;

  std::atomic<bool> stopping_{false};
  std::atomic<size_t> queuedBytes_{0};  // committed and not yet written
  std::atomic<uint64_t> queuedRecords_{0};
  std::atomic<uint64_t> progress_{0};  // records written, flushes and ticks done
  std::atomic<uint64_t> dropped_{0};
  std::atomic<bool> failed_{false};
  std::thread thread_;
};

}  // namespace moxcollect
