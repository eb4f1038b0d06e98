// Fixture for the context room: a configuration from pairs, the performance
// and trace stores initialised, the library trace file in a temporary
// directory, a tick driven by the test, and the seams recording what reached
// them.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "mox/config/configuration.h"
#include "mox/config/memory_profile.h"
#include "mox/context/context_manager.h"
#include "mox/context/resource_hooks.h"
#include "mox/context/trace_builder_hooks.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/trace/trace_data_manager.h"
#include "thr/thr.h"

namespace ctxtest {

using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

inline std::atomic<uint32_t> fakeTick{1000};
inline uint32_t readFakeTick() { return fakeTick.load(std::memory_order_relaxed); }

// What the seams received, in order.
struct Recorded {
  std::mutex lock;
  std::vector<std::string> traces;
  std::map<std::u16string, int64_t> resources;
};
inline Recorded recorded;

template <const char* Label>
std::u16string recordTrace(const CMTContext&) {
  std::lock_guard<std::mutex> guard(recorded.lock);
  recorded.traces.push_back(Label);
  return asciiToUtf16(Label);
}
inline constexpr char kTrace[] = "trace";
inline constexpr char kMaxComponents[] = "max";
inline constexpr char kTooLarge[] = "large";
inline constexpr char kZombie[] = "zombie";

inline void recordResource(const std::u16string& name, int64_t amount) {
  std::lock_guard<std::mutex> guard(recorded.lock);
  recorded.resources[name] += amount;
}

class ContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ThrIsInitialised()) ThrInit();
    char pattern[] = "/tmp/mox_ctx_XXXXXX";
    const char* made = mkdtemp(pattern);
    dir_ = made ? made : "/tmp";
    fakeTick = 1000;
    setTickSource(readFakeTick);
    {
      std::lock_guard<std::mutex> guard(recorded.lock);
      recorded.traces.clear();
      recorded.resources.clear();
    }
    tracebuilders::buildTrace = &recordTrace<kTrace>;
    tracebuilders::buildMaxComponentsSnapshot = &recordTrace<kMaxComponents>;
    tracebuilders::buildTooLargeSnapshot = &recordTrace<kTooLarge>;
    tracebuilders::buildZombieTrace = &recordTrace<kZombie>;
    resourcehooks::increaseResource = &recordResource;
  }

  void TearDown() override {
    CMTContextManager::destroyInstance();
    CPerfDataManager::destroyInstance();
    CMTTraceDataManager::destroyInstance();
    TrcCloseLibraryFile();
    CConfiguration::destroyInstance();
    setTickSource(nullptr);
    tracebuilders::buildTrace = nullptr;
    tracebuilders::buildMaxComponentsSnapshot = nullptr;
    tracebuilders::buildTooLargeSnapshot = nullptr;
    tracebuilders::buildZombieTrace = nullptr;
    resourcehooks::increaseResource = nullptr;
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // Configures from the defaults below overridden by pairs, then brings up
  // the stores, the trace file (level 2) and the registry.
  CMTContextManager& start(const Pairs& pairs = {}) {
    Pairs all = pairs;
    for (const auto& entry : Pairs{{u"instrument_level_threshold", u"10"},
                                   {u"perf_metric_scope", u"4"},
                                   {u"max_components_per_transaction", u"1000"},
                                   {u"cache_section_count", u"2"},
                                   {u"datasending_method", u"file"},
                                   {u"logdir", asciiToUtf16(dir_)}}) {
      all.push_back(entry);  // a key given twice keeps its first value
    }
    std::vector<CParameter> entries;
    for (const auto& [key, value] : all) entries.push_back(CParameter{key, value, false});
    CConfiguration::destroyInstance();
    CConfiguration* config = CConfiguration::getInstance();
    config->addProfile(std::make_unique<moxprofile::CMemoryProfile>(entries));
    config->loadProfiles();
    config->applyValues();
    TrcOpenLibraryFile(u"ctxtest", asciiToUtf16(dir_), 2);
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

  std::string traceLog() const {
    std::ifstream in(dir_ + "/ctxtest_mox.trc", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  static std::vector<std::string> traces() {
    std::lock_guard<std::mutex> guard(recorded.lock);
    return recorded.traces;
  }

  static int64_t resource(const std::u16string& name) {
    std::lock_guard<std::mutex> guard(recorded.lock);
    auto found = recorded.resources.find(name);
    return found == recorded.resources.end() ? 0 : found->second;
  }

  std::string dir_;
};

inline size_t countOf(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++count;
  return count;
}

}  // namespace ctxtest
