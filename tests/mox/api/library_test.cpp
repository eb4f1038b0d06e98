// Two library objects built one after the other in one process, each with its own configuration, identity and log
// directory, as the lifecycle builds them (without starting the threads): nothing of the first reaches the second, and
// the second writes nothing where the first did.
#include "mox/api/library.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mox/config/config_sources.h"
#include "support/test_config.h"
#include "support/test_files.h"

namespace {

using testsupport::countOf;
using testsupport::readFile;
using testsupport::TempDir;

// Configured as MOX_ProcInitWithParam configures: the built-in defaults, then the pairs.
std::unique_ptr<MoxLibrary> buildLibrary(const std::u16string& name, const std::u16string& instance,
                                         const ConfigPairs& pairs) {
  auto library = std::make_unique<MoxLibrary>(name, instance);
  std::vector<const char16_t*> texts;
  for (const auto& [key, value] : pairs) texts.insert(texts.end(), {key.c_str(), value.c_str()});
  configureFromPairs(library->config(), static_cast<uint32_t>(pairs.size()), texts.data());
  library->build();
  return library;
}

// One unit of work of one call on the session key "host".
void timeOneCall(MoxLibrary& library, const std::u16string& component) {
  CMTContextManager& registry = library.registry();
  registry.endTiming(u"host", registry.startTiming(u"host", component, u"call", 1));
}

TEST(LibraryTest, ASecondLibraryInTheSameProcessSeesNothingOfTheFirst) {
  TempDir firstDir, secondDir;
  auto first = buildLibrary(u"first", u"1",
                            {{u"datasending_method", u"file"},
                             {u"logdir", firstDir.path16()},
                             {u"system_name", u"SYS_A"},
                             {u"perf_metric_scope", u"1"},
                             {u"skip_times_in_names", u"Order"},
                             {u"trace_enabled_via_em", u"1"}});
  first->identity().setInstancePrefix(u"east");
  timeOneCall(*first, u"Order");
  first->dispatcher().runTraceAndDataJobs();
  // Left behind unsent: a performance record, a trace and a running call.
  timeOneCall(*first, u"Leftover");
  first->registry().startTiming(u"open", u"Running", u"call", 1);
  const std::string firstFile = firstDir.file("first_mtdata.log");
  const std::string firstText = readFile(firstFile);
  ASSERT_EQ(countOf(firstText, "name=\"SYS_A|first_1:MOX library version\""), 1u);
  EXPECT_EQ(countOf(firstText, "SYS_A|first_1|east|Order|call:Finished Counter"), 1u);
  EXPECT_EQ(countOf(firstText, "Order|call:Active Counter"), 0u);  // skipped in the first
  EXPECT_GT(countOf(firstText, "<event"), 0u);                     // traced in the first
  first.reset();

  auto second = buildLibrary(u"second", u"2",
                             {{u"datasending_method", u"file"},
                              {u"logdir", secondDir.path16()},
                              {u"system_name", u"SYS_B"},
                              {u"perf_metric_scope", u"1"}});
  EXPECT_EQ(second->registry().contextCount(), 0u);
  EXPECT_EQ(second->identity().instancePrefix(), u"");
  timeOneCall(*second, u"Order");
  second->dispatcher().runTraceAndDataJobs();
  second.reset();

  EXPECT_EQ(readFile(firstFile), firstText) << "the second library wrote into the first one's file";
  const std::string secondText = readFile(secondDir.file("second_mtdata.log"));
  EXPECT_EQ(countOf(secondText, "name=\"SYS_B|second_2:MOX library version\""), 1u);  // its own version event
  EXPECT_EQ(countOf(secondText, "SYS_B|second_2|Order|call:Active Counter\" value=\"0\""), 1u);  // not skipped
  EXPECT_EQ(countOf(secondText, "SYS_B|second_2|Order|call:Finished Counter\" value=\"1\""), 1u);
  for (const char* leaked : {"SYS_A", "first", "east", "Leftover", "Running", "<event"}) {
    EXPECT_EQ(countOf(secondText, leaked), 0u) << leaked << " leaked into the second library:\n" << secondText;
  }
}

}  // namespace
