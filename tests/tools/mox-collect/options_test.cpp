#include "options.h"

#include <gtest/gtest.h>

namespace {

using moxcollect::parseOptions;

TEST(Options, DefaultsAndValuesInBothSpellings) {
  const auto defaults = parseOptions({}).options;
  ASSERT_EQ(defaults.listen.size(), 1u);
  EXPECT_EQ(defaults.listen[0].host + ":" + std::to_string(defaults.listen[0].port), "127.0.0.1:59818");
  EXPECT_TRUE(defaults.json);

  const auto parsed = parseOptions({"--listen", "[::1]:0", "--listen=localhost:7000", "--out", "d", "--top",
                                    "--interval=0.25", "--timeout", "90", "--count", "4"});
  ASSERT_EQ(parsed.error, "");
  const auto& o = parsed.options;
  ASSERT_EQ(o.listen.size(), 2u);
  EXPECT_EQ(o.listen[0].host, "::1");
  EXPECT_EQ(o.listen[1].port, 7000);
  EXPECT_FALSE(o.json);  // --out with --top: no JSON unless asked for
  EXPECT_EQ(o.interval, std::chrono::milliseconds(250));
  EXPECT_EQ(o.timeout, std::chrono::milliseconds(90000));
  EXPECT_EQ(o.count, 4u);
}

TEST(Options, RejectsBadCommandLinesWithAMessageNamingTheProblem) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--listen"}, "--listen needs a value"},
      {{"--listen", "59818"}, "expected HOST:PORT"},
      {{"--listen", "::1:59818"}, "expected HOST:PORT"},
      {{"--listen", "[::1]59818"}, "expected [IPv6-ADDRESS]:PORT"},
      {{"--listen", "host:65536"}, "port from 0 to 65535"},
      {{"--listen", ":80"}, "port from 0 to 65535"},
      {{"--count", "0"}, "--count: expected a positive number"},
      {{"--interval", "0"}, "--interval: expected seconds"},
      {{"--timeout", "nan"}, "--timeout: expected seconds"},
      {{"--rows", "0"}, "--rows: expected a number"},
      {{"--rows", "1001"}, "--rows: expected a number"},
      {{"--out="}, "--out: the directory name is empty"},
      {{"--json=yes"}, "--json takes no value"},
      {{"--json", "--top"}, "choose one"},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_NE(parseOptions(args).error.find(message), std::string::npos) << args[0] << ": " << parseOptions(args).error;
  }
}

}  // namespace
