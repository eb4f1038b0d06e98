// The command line of mox-demo: what to run, or why not.
#pragma once

#include <string>

struct DemoOptions {
  int seconds = 3;
  int threads = 4;
  std::string logdir = "./mox-out";
  std::string collectorHost;  // empty: no --collector
  std::string collectorPort;
  bool defaultStart = false;
};

struct CommandLine {
  enum class Action { Run, Help, Version, Refuse };
  Action action = Action::Run;
  DemoOptions options;  // Run only
  std::string problem;  // Refuse only: one line naming the option at fault
};

// Reads argv[1..argc-1]. Options take their value as the next argument or
// after "="; --help and --version act at once, the first bad argument refuses.
CommandLine parseCommandLine(int argc, const char* const* argv);

// The usage text, ending in a line feed.
const char* usageText();
