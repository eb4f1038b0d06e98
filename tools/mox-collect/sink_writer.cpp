#include "sink_writer.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>

#include "prefetch.h"

namespace moxcollect {

namespace {

// Written batches kept for the producer to fill again, and what one of their
// records may hold to be kept as it is: together at most about 10 MiB
// (16 x 256 records of a few hundred bytes and their kept storage).
constexpr size_t kSpareBatches = 16;
constexpr size_t kKeptRecordHeap = 2048;

}  // namespace

SinkWriter::SinkWriter(std::vector<RecordSink*> sinks, size_t maxQueuedBytes, std::function<void()> onFailure,
                       std::function<void(Record&)> prepare)
    : sinks_(std::move(sinks)),
      maxQueuedBytes_(maxQueuedBytes),
      onFailure_(std::move(onFailure)),
      prepare_(std::move(prepare)) {}

SinkWriter::~SinkWriter() {
  if (!thread_.joinable()) return;
  publish();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_one();
  thread_.join();
}

void SinkWriter::start() {
  // Signals are the loop's business: a stop signal must not interrupt a write to the output.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  thread_ = std::thread([this] { run(); });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

Record& SinkWriter::slot() {
  if (filling_.slots.empty()) filling_.slots.reserve(kBatchRecords);
  if (filling_.used == filling_.slots.size()) filling_.slots.emplace_back();
  return filling_.slots[filling_.used];
}

bool SinkWriter::commit() {
  const size_t queued = queuedBytes_ + filling_.bytes;
  const size_t cost = costOf(filling_.slots[filling_.used]);
  if (stopping_ || (queued > 0 && queued + cost > maxQueuedBytes_)) {
    ++dropped_;
    return false;
  }
  ++filling_.used;
  filling_.bytes += cost;
  if (filling_.used >= kBatchRecords) publish();
  return true;
}

void SinkWriter::publish() {
  if (filling_.used == 0) return;
  bool wasEmpty = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queuedBytes_ += filling_.bytes;
    queuedRecords_ += filling_.used;
    wasEmpty = queue_.empty();
    queue_.push_back(std::move(filling_));
    filling_ = Batch();
    if (!spare_.empty()) {
      filling_ = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  if (wasEmpty) work_.notify_one();
}

bool SinkWriter::push(Record&& record) {
  slot() = std::move(record);
  if (!commit()) return false;
  publish();
  return true;
}

void SinkWriter::run() {
  const auto start = std::chrono::steady_clock::now();
  for (RecordSink* sink : sinks_) sink->tick(start);
  std::vector<Batch> batches;
  for (;;) {
    bool last = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      waitForWork(lock);
      batches.swap(queue_);
      last = stopping_;
    }
    for (Batch& batch : batches) writeAll(batch);
    giveBack(batches);
    bool empty = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      empty = queue_.empty();
    }
    if (empty) {
      for (RecordSink* sink : sinks_) sink->flush();
      ++progress_;
    }
    const auto now = std::chrono::steady_clock::now();
    for (RecordSink* sink : sinks_) sink->tick(now);
    checkFailure();
    if (last && empty) break;
  }
  for (RecordSink* sink : sinks_) sink->finish();
  checkFailure();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  done_.notify_all();
}

void SinkWriter::waitForWork(std::unique_lock<std::mutex>& lock) {
  const auto ready = [this] { return !queue_.empty() || stopping_; };
  std::optional<RecordSink::TimePoint> wake;
  for (RecordSink* sink : sinks_) {
    const auto next = sink->nextTick();
    if (next && (!wake || *next < *wake)) wake = next;
  }
  if (wake) {
    work_.wait_until(lock, *wake, ready);
  } else {
    work_.wait(lock, ready);
  }
}

namespace {

// How far ahead of the record being written the next ones are fetched. The
// loop thread filled them on its core, and a record's attribute list and
// name lie elsewhere on the heap, each reached through the one before: so
// each record is fetched in three steps, and the misses of several records
// overlap instead of each stalling the writer in turn.
constexpr size_t kFetchRecordAhead = 6;
constexpr size_t kFetchAttributesAhead = 4;
constexpr size_t kFetchTextsAhead = 2;

}  // namespace

void SinkWriter::writeAll(Batch& batch) {
  size_t written = 0;
  for (size_t i = 0; i < batch.used; ++i) {
    if (i + kFetchRecordAhead < batch.used) prefetchBytes(&batch.slots[i + kFetchRecordAhead], sizeof(Record));
    if (i + kFetchAttributesAhead < batch.used) prefetchAttributes(batch.slots[i + kFetchAttributesAhead].element);
    if (i + kFetchTextsAhead < batch.used) prefetchTexts(batch.slots[i + kFetchTextsAhead].element);
    Record& record = batch.slots[i];
    if (prepare_) prepare_(record);
    for (RecordSink* sink : sinks_) sink->write(record);
    written += costOf(record);
    // Looked at while the record is still in this core's cache, not when its batch goes back.
    if (heapBytes(record) > kKeptRecordHeap) record = Record();
    --queuedRecords_;
    ++progress_;
  }
  // A record still counts against the queue while it is written.
  queuedBytes_ -= written;
}

void SinkWriter::giveBack(std::vector<Batch>& written) {
  for (Batch& batch : written) {
    batch.used = 0;
    batch.bytes = 0;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (Batch& batch : written) {
    if (spare_.size() < kSpareBatches) spare_.push_back(std::move(batch));
  }
  written.clear();
}

void SinkWriter::checkFailure() {
  if (failed_) return;
  if (std::none_of(sinks_.begin(), sinks_.end(), [](RecordSink* s) { return s->failed(); })) return;
  failed_ = true;
  if (onFailure_) onFailure_();
}

bool SinkWriter::finish(std::chrono::milliseconds stall) {
  if (!thread_.joinable()) return true;
  publish();
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_ = true;
  work_.notify_one();
  for (uint64_t seen = progress_;; seen = progress_) {
    if (done_.wait_for(lock, stall, [this] { return finished_; })) break;
    if (progress_ == seen) {
      dropped_ += queuedRecords_.exchange(0);
      queue_.clear();
      return false;
    }
  }
  lock.unlock();
  thread_.join();
  return true;
}

}  // namespace moxcollect
