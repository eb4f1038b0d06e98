#include "sink_writer.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>

namespace moxcollect {

SinkWriter::SinkWriter(std::vector<RecordSink*> sinks, size_t maxQueuedBytes, std::function<void()> onFailure)
    : sinks_(std::move(sinks)), maxQueuedBytes_(maxQueuedBytes), onFailure_(std::move(onFailure)) {}

SinkWriter::~SinkWriter() {
  if (!thread_.joinable()) return;
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

bool SinkWriter::push(Record&& record) {
  const size_t cost = costOf(record);
  bool wasEmpty = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || (queuedBytes_ > 0 && queuedBytes_ + cost > maxQueuedBytes_)) {
      ++dropped_;
      return false;
    }
    wasEmpty = queue_.empty();
    queue_.push_back(std::move(record));
    queuedBytes_ += cost;
  }
  if (wasEmpty) work_.notify_one();
  return true;
}

void SinkWriter::run() {
  const auto start = std::chrono::steady_clock::now();
  for (RecordSink* sink : sinks_) sink->tick(start);
  for (;;) {
    std::deque<Record> batch;
    bool last = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      waitForWork(lock);
      batch.swap(queue_);
      last = stopping_;
    }
    writeAll(batch);
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

void SinkWriter::writeAll(std::deque<Record>& batch) {
  size_t written = 0;
  batchLeft_ = batch.size();
  for (const Record& record : batch) {
    for (RecordSink* sink : sinks_) sink->write(record);
    written += costOf(record);
    --batchLeft_;
    ++progress_;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  queuedBytes_ -= written;
}

void SinkWriter::checkFailure() {
  if (failed_) return;
  if (std::none_of(sinks_.begin(), sinks_.end(), [](RecordSink* s) { return s->failed(); })) return;
  failed_ = true;
  if (onFailure_) onFailure_();
}

bool SinkWriter::finish(std::chrono::milliseconds stall) {
  if (!thread_.joinable()) return true;
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_ = true;
  work_.notify_one();
  for (uint64_t seen = progress_;; seen = progress_) {
    if (done_.wait_for(lock, stall, [this] { return finished_; })) break;
    if (progress_ == seen) {
      dropped_ += queue_.size() + batchLeft_;
      queue_.clear();
      batchLeft_ = 0;
      return false;
    }
  }
  lock.unlock();
  thread_.join();
  return true;
}

}  // namespace moxcollect
