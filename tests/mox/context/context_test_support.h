// Fixture for the context room: configuration from pairs, the stores and the
// trace file set up, a tick driven by the test, and the trace store's texts
// collected.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "mox/context/context_manager.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/trace/trace_data_manager.h"
#include "support/test_config.h"
#include "support/test_files.h"
#include "thr/thr.h"

namespace ctxtest {

using testsupport::countOf;
using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

inline std::atomic<uint32_t> fakeTick{1000};
inline uint32_t readFakeTick() { return fakeTick.load(std::memory_order_relaxed); }

class ContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ThrIsInitialised()) ThrInit();
    fakeTick = 1000;
    setTickSource(readFakeTick);
  }
  void TearDown() override {
    stop();
    setTickSource(nullptr);
  }
  void stop() {
    registry_.reset();
    metrics_.reset();
    traceStore_.reset();
    config_.reset();
    {
      std::lock_guard<std::mutex> guard(tracesLock_);
      traces_.clear();
    }
    trcCloseLibraryFile();
  }

  // Configures from the pairs, then these defaults (the first value of a key
  // wins), and brings up the stores, the trace file (level 2) and the registry.
  CMTContextManager& start(const Pairs& pairs = {}) {
    stop();
    Pairs all = pairs;
    all.insert(all.end(), {{u"instrument_level_threshold", u"10"},
                           {u"perf_metric_scope", u"4"},
                           {u"max_components_per_transaction", u"1000"},
                           {u"datasending_method", u"file"},
                           {u"logdir", dir_.path16()}});
    config_ = testConfiguration(all);
    trcOpenLibraryFile(u"ctxtest", dir_.path16(), 2);
    metrics_ = std::make_unique<CPerfDataManager>();
    traceStore_ = std::make_unique<CMTTraceDataManager>();
    registry_ = std::make_unique<CMTContextManager>();
    metrics_->init(*config_);
    traceStore_->init(*config_);
    registry_->init(*config_, identity_, *metrics_, *traceStore_);
    return *registry_;
  }

  // One thread at a time moves the tick; it wraps as the real one does.
  static void advance(uint32_t ms) { fakeTick = (fakeTick.load() + ms) % TICK_WRAP_MS; }
  PerfValues perf(const std::u16string& key) const { return metrics_->getPerfRecord(key)->snapshot(); }
  // "active/finished/terminated/count" of a key's record.
  std::string counts(const std::u16string& key) const {
    const PerfValues v = perf(key);
    return std::to_string(v.active) + "/" + std::to_string(v.finished) + "/" + std::to_string(v.terminated) + "/" +
           std::to_string(v.count);
  }
  std::string traceLog() const { return testsupport::readFile(dir_.file("ctxtest_mox.trc")); }
  // Takes the texts queued in the trace store (any thread).
  void drainTraces() const {
    std::vector<std::u16string> taken = traceStore_->takeTexts();
    std::lock_guard<std::mutex> guard(tracesLock_);
    traces_.insert(traces_.end(), taken.begin(), taken.end());
  }
  // Every trace text queued since start(), in order.
  std::vector<std::u16string> traceTexts() const {
    drainTraces();
    std::lock_guard<std::mutex> guard(tracesLock_);
    return traces_;
  }
  // The current value of a resource in the metric store (0 when never reported).
  int64_t resource(const std::u16string& name) const {
    int64_t current = 0;
    metrics_->withResourceRecord(name, [&](CResourceRecord& record) { current = record.snapshot().current; });
    return current;
  }

  testsupport::TempDir dir_;
  ProcessIdentity identity_{u"", u""};
  std::unique_ptr<CConfiguration> config_;
  std::unique_ptr<CPerfDataManager> metrics_;
  std::unique_ptr<CMTTraceDataManager> traceStore_;
  std::unique_ptr<CMTContextManager> registry_;
  mutable std::mutex tracesLock_;
  mutable std::vector<std::u16string> traces_;
};

}  // namespace ctxtest
