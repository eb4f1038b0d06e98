// Fixture for the configuration: a fresh configuration object, temporary
// configuration and working directories, MOX_CONFIG and the working
// directory restored afterwards; every typed key read through its own getter.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/utf.h"
#include "mox/config/config_sources.h"
#include "mox/config/configuration.h"
#include "support/test_files.h"

// Each typed key with its getter, in table order.
inline const std::vector<std::pair<std::string, std::function<int64_t(const CConfiguration&)>>>& typedGetters() {
  using C = const CConfiguration&;
  static const std::vector<std::pair<std::string, std::function<int64_t(const CConfiguration&)>>> getters = {
      {"instrument_level_threshold", [](C c) { return c.getInstrumentLevelThreshold(); }},
      {"instrument_level_threshold_trace", [](C c) { return c.getInstrumentLevelThresholdTrace(); }},
      {"max_components_per_transaction", [](C c) { return c.getMaxComponentsPerTransaction(); }},
      {"tracecheck_interval", [](C c) { return c.getTracecheckInterval(); }},
      {"tracesize_threshold", [](C c) { return c.getTracesizeThreshold(); }},
      {"trace_preview_timeout", [](C c) { return c.getTracePreviewTimeout(); }},
      {"auto_transaction_trace_threshold", [](C c) { return c.getAutoTransactionTraceThreshold(); }},
      {"datasending_interval", [](C c) { return c.getDatasendingInterval(); }},
      {"zombie_check_interval", [](C c) { return c.getZombieCheckInterval(); }},
      {"zombie_timeout", [](C c) { return c.getZombieTimeout(); }},
      {"empty_timeout", [](C c) { return c.getEmptyTimeout(); }},
      {"agent_type", [](C c) { return c.getAgentType(1); }},
      {"agent_type_2", [](C c) { return c.getAgentType(2); }},
      {"agent_type_3", [](C c) { return c.getAgentType(3); }},
      {"agent_type_4", [](C c) { return c.getAgentType(4); }},
      {"agent_type_5", [](C c) { return c.getAgentType(5); }},
      {"agent_port", [](C c) { return c.getAgentPort(1); }},
      {"agent_port_2", [](C c) { return c.getAgentPort(2); }},
      {"agent_port_3", [](C c) { return c.getAgentPort(3); }},
      {"agent_port_4", [](C c) { return c.getAgentPort(4); }},
      {"agent_port_5", [](C c) { return c.getAgentPort(5); }},
      {"cache_section_count", [](C c) { return c.getCacheSectionCount(); }},
      {"lib_trace_level", [](C c) { return c.getLibTraceLevel(); }},
      {"perf_metric_scope", [](C c) { return scopeNumber(c.getPerfMetricScope()); }},
      {"skip_times_below_threshold", [](C c) { return c.getSkipTimesBelowThreshold(); }},
      {"trace_enabled_via_em", [](C c) { return c.getTraceEnabledViaEm(); }},
      {"trace_enabled_via_e2e", [](C c) { return c.getTraceEnabledViaE2e(); }},
      {"context_map_bucket", [](C c) { return c.getContextMapBucketCount(); }},
  };
  return getters;
}

// "key=value key=value" split at blanks and the first "=".
inline std::vector<std::pair<std::string, std::string>> settings(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::istringstream words(text);
  for (std::string word; words >> word;)
    out.emplace_back(word.substr(0, word.find('=')), word.substr(word.find('=') + 1));
  return out;
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CConfiguration::destroyInstance();
    if (const char* env = getenv("MOX_CONFIG")) savedEnv_ = env;
    unsetenv("MOX_CONFIG");
    std::filesystem::create_directories(configDir_);
    std::filesystem::create_directories(workDir_);
    std::filesystem::current_path(workDir_);
  }
  void TearDown() override {
    CConfiguration::destroyInstance();
    std::filesystem::current_path(savedCwd_);
    if (savedEnv_)
      setenv("MOX_CONFIG", savedEnv_->c_str(), 1);
    else
      unsetenv("MOX_CONFIG");
  }

  // A fresh configuration from the parameter pairs "key=value key=value".
  void configure(const std::string& pairs) {
    CConfiguration::destroyInstance();
    std::vector<std::u16string> texts;
    for (const auto& [key, value] : settings(pairs))
      texts.insert(texts.end(), {asciiToUtf16(key), asciiToUtf16(value)});
    std::vector<const char16_t*> pointers;
    for (const std::u16string& text : texts) pointers.push_back(text.c_str());
    configureFromPairs(cfg(), static_cast<uint32_t>(texts.size() / 2), pointers.data());
  }
  static void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  CConfiguration& cfg() { return *CConfiguration::getInstance(); }
  std::string value(const char* key) { return utf16ToUtf8Lenient(cfg().getValue(asciiToUtf16(key))); }
  // The typed field of a key, through its getter.
  int64_t number(const std::string& key) {
    for (const auto& [name, get] : typedGetters())
      if (name == key) return get(cfg());
    ADD_FAILURE() << "no getter for " << key;
    return -1;
  }
  std::u16string configDir16() const { return asciiToUtf16(configDir_.string()); }

  testsupport::TempDir root_;
  const std::filesystem::path configDir_ = root_.file("conf");
  const std::filesystem::path workDir_ = root_.file("work");

 private:
  const std::filesystem::path savedCwd_ = std::filesystem::current_path();
  std::optional<std::string> savedEnv_;
};
