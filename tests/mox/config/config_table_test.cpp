// The README documents exactly the keys, defaults, limits and changeable flags of the key table.
#include "mox/config/config_table.h"

#include <algorithm>

#include "config_test_support.h"

namespace {

std::string keyName(moxconfig::Key key) { return utf16ToUtf8Lenient(moxconfig::keyText(key)); }

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

// Each key has one row "| `key` | `default` | limits | changeable |" in the section "## Configuration", and there are
// no other rows.
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
    ASSERT_TRUE(row != rows.end()) << "no row beginning " << head;
    const size_t flag = row->rfind(" | ");
    const char* const changeable[] = {"no", "yes", "file"};  // kNever, kAlways, kFromFile
    EXPECT_EQ(row->substr(flag), " | " + std::string(changeable[entry.changeable]) + " |");
    const std::string limits = row->substr(head.size(), flag - head.size());
    const std::vector<std::string> words = limitWords(entry);
    for (const std::string& word : words) EXPECT_NE(limits.find(word), std::string::npos) << limits;
    EXPECT_TRUE(!words.empty() || !moxconfig::hasField(entry) || limits.rfind("none", 0) == 0) << limits;
  }
}

}  // namespace
