// The key table: every key reaches its own getter with its own initial value,
// and the README documents exactly the keys, defaults, limits and changeable
// flags of the table.
#include "mox/config/config_table.h"

#include <algorithm>

#include "config_test_support.h"

namespace {

std::string keyName(moxconfig::Key key) { return utf16ToUtf8Lenient(moxconfig::keyText(key)); }

using ConfigTableTest = ConfigTest;

// Text keys are read by the rooms that use them; a typed getter reading a
// neighbour's field would go unnoticed there.
TEST_F(ConfigTableTest, EveryTypedKeyReachesItsOwnGetter) {
  // A value for each typed key, distinct from every other and within its limits.
  const int64_t distinct[] = {11, 12, 13, 14, 10015, 116, 117, 118, 119, 120, 121, 22, 23, 24,
                              25, 26, 27, 28, 29,    30,  31,  32,  -33, 4,   35,  36, 37, 128};
  const auto& typed = typedGetters();
  ASSERT_EQ(typed.size(), std::size(distinct));
  std::string file;
  for (size_t i = 0; i < typed.size(); ++i) {
    const moxconfig::Entry& entry = moxconfig::kTable[i];
    ASSERT_EQ(typed[i].first, keyName(entry.id));
    EXPECT_EQ(typed[i].second(cfg()), moxconfig::hasField(entry) ? entry.initial : 4) << typed[i].first;
    file += typed[i].first + " = " + std::to_string(distinct[i]) + "\n";
  }
  writeFile(configDir_ / "mox.conf", file);
  configureFromProfileDir(cfg(), configDir16());
  for (size_t i = 0; i < typed.size(); ++i) EXPECT_EQ(typed[i].second(cfg()), distinct[i]) << typed[i].first;
}

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
  const std::string other =
      limit.other != moxconfig::kKeyCount ? "`" + keyName(limit.other) + "`" : std::to_string(limit.minimum);
  switch (limit.kind) {
    case LimitKind::kAtLeast: return {"at least " + other};
    case LimitKind::kAtLeastUnlessZero: return {"at least " + other, "0 stays 0"};
    case LimitKind::kOnlyWhenGiven: return {"only when not empty (else " + std::to_string(entry.initial) + ")"};
    case LimitKind::kEmptyFollows: return {"equals " + other};
    case LimitKind::kNone: break;
  }
  return {};
}

// Each key has one row "| `key` | `default` | limits | changeable |" in the
// section "## Configuration", and there are no other rows.
TEST(ConfigReadmeTest, DocumentsEveryKeyWithItsDefaultLimitsAndFlag) {
  std::istringstream readme(testsupport::readFile(MOX_README_PATH));
  std::vector<std::string> rows;
  bool inSection = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("## ", 0) == 0) inSection = line == "## Configuration";
    if (inSection && line.rfind("| `", 0) == 0) rows.push_back(line);
  }
  EXPECT_EQ(rows.size(), std::size(moxconfig::kTable));
  for (const moxconfig::Entry& entry : moxconfig::kTable) {
    SCOPED_TRACE(keyName(entry.id));
    const std::string head = "| `" + keyName(entry.id) + "` | " +
                             (entry.defaultValue ? "`" + utf16ToUtf8Lenient(entry.defaultValue) + "`" : "–") + " | ";
    const auto row =
        std::find_if(rows.begin(), rows.end(), [&](const std::string& r) { return r.rfind(head, 0) == 0; });
    if (row == rows.end()) {
      ADD_FAILURE() << "no row beginning " << head;
      continue;
    }
    const size_t flag = row->rfind(" | ");
    EXPECT_EQ(row->substr(flag), " | " + std::string(changeableText(entry.changeable)) + " |");
    const std::string limits = row->substr(head.size(), flag - head.size());
    const std::vector<std::string> words = limitWords(entry);
    for (const std::string& word : words) EXPECT_NE(limits.find(word), std::string::npos) << limits;
    if (words.empty() && moxconfig::hasField(entry)) {
      EXPECT_EQ(limits.rfind("none", 0), 0u) << limits;
    }
  }
}

}  // namespace
