// Fixture for the context room: configuration from pairs, stores and trace
// file set up, a tick driven by the test, and seams recording what reached them.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "mox/context/context_manager.h"
#include "mox/context/trace_builder_hooks.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/trace/test_config.h"
#include "mox/trace/trace_data_manager.h"
#include "support/test_files.h"
#include "thr/thr.h"

namespace ctxtest {

using testsupport::countOf;
using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

inline std::atomic<uint32_t> fakeTick{1000};
inline uint32_t readFakeTick() { return fakeTick.load(std::memory_order_relaxed); }

// What the seams received, in order.
inline std::mutex recordedLock;
inline std::vector<std::string> recordedTraces;

template <const char* Label>
std::u16string recordTrace(const CMTContext&) {
  std::lock_guard<std::mutex> guard(recordedLock);
  recordedTraces.push_back(Label);
  return asciiToUtf16(Label);
}
inline constexpr char kTrace[] = "trace";
inline constexpr char kMaxComponents[] = "max";
inline constexpr char kTooLarge[] = "large";
inline constexpr char kZombie[] = "zombie";

class ContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ThrIsInitialised()) ThrInit();
    fakeTick = 1000;
    setTickSource(readFakeTick);
    recordedTraces.clear();
    setHooks(&recordTrace<kTrace>, &recordTrace<kMaxComponents>, &recordTrace<kTooLarge>, &recordTrace<kZombie>);
  }
  void TearDown() override {
    stop();
    CConfiguration::destroyInstance();
    setTickSource(nullptr);
    setHooks(nullptr, nullptr, nullptr, nullptr);
  }
  static void setHooks(ContextTraceBuilder trace, ContextTraceBuilder max, ContextTraceBuilder large,
                       ContextTraceBuilder zombie) {
    tracebuilders::buildTrace = trace;
    tracebuilders::buildMaxComponentsSnapshot = max;
    tracebuilders::buildTooLargeSnapshot = large;
    tracebuilders::buildZombieTrace = zombie;
  }
  static void stop() {
    CMTContextManager::destroyInstance();
    CPerfDataManager::destroyInstance();
    CMTTraceDataManager::destroyInstance();
    TrcCloseLibraryFile();
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
    configureForTest(all);
    TrcOpenLibraryFile(u"ctxtest", dir_.path16(), 2);
    CPerfDataManager::getInstance()->init();
    CMTTraceDataManager::getInstance()->init(nullptr);
    CMTContextManager* manager = CMTContextManager::getInstance();
    manager->init();
    return *manager;
  }

  static void advance(uint32_t ms) { fakeTick.fetch_add(ms, std::memory_order_relaxed); }
  static PerfValues perf(const std::u16string& key) {
    return CPerfDataManager::getInstance()->getPerfRecord(key)->snapshot();
  }
  // "active/finished/terminated/count" of a key's record, compared in one line.
  static std::string counts(const std::u16string& key) {
    const PerfValues v = perf(key);
    return std::to_string(v.active) + "/" + std::to_string(v.finished) + "/" + std::to_string(v.terminated) + "/" +
           std::to_string(v.count);
  }
  std::string traceLog() const { return testsupport::readFile(dir_.file("ctxtest_mox.trc")); }
  static std::vector<std::string> traces() {
    std::lock_guard<std::mutex> guard(recordedLock);
    return recordedTraces;
  }
  // The current value of a resource in the metric store (0 when never reported).
  static int64_t resource(const std::u16string& name) {
    int64_t current = 0;
    CPerfDataManager::getInstance()->withResourceRecord(
        name, [&](CResourceRecord& record) { current = record.snapshot().current; });
    return current;
  }

  testsupport::TempDir dir_;
};

}  // namespace ctxtest
