// The key table: every key reaches its own getter with its own initial value,
// and the README documents exactly the keys, defaults, limits and changeable
// flags of the table.
#include "mox/config/config_table.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config_test_support.h"
#include "mox/config/config_sources.h"

namespace {

using Getter = std::function<int64_t(const CConfiguration&)>;

struct TypedKey {
  const char* key;
  const char* fileValue;  // distinct from every other key's, and within its limits
  Getter get;
  int64_t fromFile;
  int64_t initial;  // before any source is applied
};

const std::vector<TypedKey>& typedKeys() {
  using C = const CConfiguration&;
  static const std::vector<TypedKey> keys = {
      {"instrument_level_threshold", "11", [](C c) { return c.getInstrumentLevelThreshold(); }, 11, 10},
      {"instrument_level_threshold_trace", "12", [](C c) { return c.getInstrumentLevelThresholdTrace(); }, 12, 10},
      {"max_components_per_transaction", "13", [](C c) { return c.getMaxComponentsPerTransaction(); }, 13, 5000},
      {"tracecheck_interval", "14", [](C c) { return c.getTracecheckInterval(); }, 14, 5},
      {"tracesize_threshold", "10015", [](C c) { return c.getTracesizeThreshold(); }, 10015, 1000000},
      {"trace_preview_timeout", "116", [](C c) { return c.getTracePreviewTimeout(); }, 116, 120},
      {"auto_transaction_trace_threshold", "117", [](C c) { return c.getAutoTransactionTraceThreshold(); }, 117, 600},
      {"datasending_interval", "118", [](C c) { return c.getDatasendingInterval(); }, 118, 60},
      {"zombie_check_interval", "119", [](C c) { return c.getZombieCheckInterval(); }, 119, 60},
      {"zombie_timeout", "120", [](C c) { return c.getZombieTimeout(); }, 120, 1800},
      {"empty_timeout", "121", [](C c) { return c.getEmptyTimeout(); }, 121, 300},
      {"agent_type", "22", [](C c) { return c.getAgentType(1); }, 22, 2},
      {"agent_type_2", "23", [](C c) { return c.getAgentType(2); }, 23, 2},
      {"agent_type_3", "24", [](C c) { return c.getAgentType(3); }, 24, 2},
      {"agent_type_4", "25", [](C c) { return c.getAgentType(4); }, 25, 2},
      {"agent_type_5", "26", [](C c) { return c.getAgentType(5); }, 26, 2},
      {"agent_port", "27", [](C c) { return c.getAgentPort(1); }, 27, 59818},
      {"agent_port_2", "28", [](C c) { return c.getAgentPort(2); }, 28, 59818},
      {"agent_port_3", "29", [](C c) { return c.getAgentPort(3); }, 29, 59818},
      {"agent_port_4", "30", [](C c) { return c.getAgentPort(4); }, 30, 59818},
      {"agent_port_5", "31", [](C c) { return c.getAgentPort(5); }, 31, 59818},
      {"cache_section_count", "32", [](C c) { return c.getCacheSectionCount(); }, 32, 2},
      {"lib_trace_level", "-33", [](C c) { return c.getLibTraceLevel(); }, -33, 1},
      {"perf_metric_scope", "4", [](C c) { return scopeNumber(c.getPerfMetricScope()); }, 4, 0},
      {"skip_times_below_threshold", "35", [](C c) { return c.getSkipTimesBelowThreshold(); }, 35, 500},
      {"trace_enabled_via_em", "36", [](C c) { return c.getTraceEnabledViaEm(); }, 36, 0},
      {"trace_enabled_via_e2e", "37", [](C c) { return c.getTraceEnabledViaE2e(); }, 37, 1},
      {"context_map_bucket", "100", [](C c) { return c.getContextMapBucketCount(); }, 128, 4},
  };
  return keys;
}

using TextGetter = std::function<std::u16string(const CConfiguration&)>;

const std::vector<std::pair<const char*, TextGetter>>& textKeys() {
  using C = const CConfiguration&;
  static const std::vector<std::pair<const char*, TextGetter>> keys = {
      {"datasending_method", [](C c) { return c.getDatasendingMethod(); }},
      {"logdir", [](C c) { return c.getLogdir(); }},
      {"agent_host", [](C c) { return c.getAgentHost(1); }},
      {"agent_host_2", [](C c) { return c.getAgentHost(2); }},
      {"agent_host_3", [](C c) { return c.getAgentHost(3); }},
      {"agent_host_4", [](C c) { return c.getAgentHost(4); }},
      {"agent_host_5", [](C c) { return c.getAgentHost(5); }},
      {"system_name", [](C c) { return c.getSystemName(); }},
      {"skip_times_in_names", [](C c) { return c.getSkipTimesInNames(); }},
      {"specific_component_names", [](C c) { return c.getSpecificComponentNames(); }},
      {"specific_component_level_thresholds", [](C c) { return c.getSpecificComponentLevelThresholds(); }},
      {"specific_component_level_thresholds_trace", [](C c) { return c.getSpecificComponentLevelThresholdsTrace(); }},
  };
  return keys;
}

using ConfigTableTest = ConfigTest;

TEST_F(ConfigTableTest, EveryKeyReachesItsOwnGetter) {
  for (const TypedKey& k : typedKeys()) EXPECT_EQ(k.get(cfg()), k.initial) << k.key;
  for (const auto& [key, get] : textKeys()) EXPECT_EQ(get(cfg()), u"") << key;

  std::string file;
  for (const TypedKey& k : typedKeys()) file += std::string(k.key) + " = " + k.fileValue + "\n";
  for (const auto& [key, get] : textKeys()) file += std::string(key) + " = text of " + key + "\n";
  writeFile(configDir_ / "mox.conf", file);
  configureFromProfileDir(cfg(), configDir16());

  for (const TypedKey& k : typedKeys()) EXPECT_EQ(k.get(cfg()), k.fromFile) << k.key;
  for (const auto& [key, get] : textKeys()) EXPECT_EQ(get(cfg()), asciiToUtf16(std::string("text of ") + key)) << key;
  // Both lists together are the whole table.
  EXPECT_EQ(typedKeys().size() + textKeys().size(), static_cast<size_t>(moxconfig::kKeyCount));
}

// One row of the README's key table.
struct DocumentedKey {
  std::string defaultValue;  // "–" when the key has no default
  std::string limits;
  std::string changeable;
};

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string unquoted(const std::string& cell) {
  return cell.size() >= 2 && cell.front() == '`' && cell.back() == '`' ? cell.substr(1, cell.size() - 2) : cell;
}

// The rows "| `key` | default | limits | changeable |" of the section
// "## Configuration"; a key listed twice fails the test.
std::map<std::string, DocumentedKey> readDocumentedKeys() {
  std::istringstream readme(testsupport::readFile(MOX_README_PATH));
  std::map<std::string, DocumentedKey> keys;
  bool inSection = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("## ", 0) == 0) inSection = line == "## Configuration";
    if (!inSection || line.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::istringstream row(line.substr(1));
    for (std::string cell; std::getline(row, cell, '|');) cells.push_back(trimmed(cell));
    if (cells.size() != 4) {
      ADD_FAILURE() << "not four cells: " << line;
      continue;
    }
    const std::string key = unquoted(cells[0]);
    const bool added = keys.emplace(key, DocumentedKey{unquoted(cells[1]), cells[2], cells[3]}).second;
    EXPECT_TRUE(added) << key << " is listed twice";
  }
  return keys;
}

std::string keyName(moxconfig::Key key) { return utf16ToUtf8Lenient(moxconfig::keyText(key)); }

const char* changeableText(moxconfig::Changeable changeable) {
  switch (changeable) {
    case moxconfig::kAlways: return "yes";
    case moxconfig::kFromFile: return "file";
    default: return "no";
  }
}

// What the limits cell must say: the minimum or the key it follows.
std::vector<std::string> limitWords(const moxconfig::Entry& entry) {
  using moxconfig::LimitKind;
  const moxconfig::Limit& limit = entry.limit;
  const bool namesKey = limit.other != moxconfig::kKeyCount;
  const std::string other = namesKey ? "`" + keyName(limit.other) + "`" : std::to_string(limit.minimum);
  switch (limit.kind) {
    case LimitKind::kAtLeast: return {"at least " + other};
    case LimitKind::kAtLeastUnlessZero: return {"at least " + other, "0 stays 0"};
    case LimitKind::kOnlyWhenGiven: return {"only when not empty (else " + std::to_string(entry.initial) + ")"};
    case LimitKind::kEmptyFollows: return {"equals " + other};
    case LimitKind::kNone: break;
  }
  return {};
}

TEST(ConfigReadmeTest, DocumentsEveryKeyWithItsDefaultLimitsAndFlag) {
  std::map<std::string, DocumentedKey> documented = readDocumentedKeys();
  for (const moxconfig::Entry& entry : moxconfig::kTable) {
    const std::string key = keyName(entry.id);
    SCOPED_TRACE(key);
    const auto doc = documented.find(key);
    if (doc == documented.end()) {
      ADD_FAILURE() << "not documented";
      continue;
    }
    const std::string defaultValue = entry.defaultValue ? utf16ToUtf8Lenient(entry.defaultValue) : "–";
    EXPECT_EQ(doc->second.defaultValue, defaultValue);
    EXPECT_EQ(doc->second.changeable, changeableText(entry.changeable));
    const std::vector<std::string> words = limitWords(entry);
    for (const std::string& word : words) {
      EXPECT_NE(doc->second.limits.find(word), std::string::npos) << "\"" << doc->second.limits << "\" lacks " << word;
    }
    if (words.empty() && moxconfig::hasField(entry)) {
      EXPECT_EQ(doc->second.limits.rfind("none", 0), 0u) << doc->second.limits;
    }
    documented.erase(doc);
  }
  for (const auto& [key, doc] : documented) ADD_FAILURE() << key << " is documented but not in the table";
}

}  // namespace
