#include "demo_options.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <utility>

namespace {

constexpr long kMaxSeconds = 3600;
constexpr long kMaxThreads = 64;

// A whole decimal number from min to max; nothing otherwise.
std::optional<long> boundedNumber(const std::string& text, long min, long max) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  errno = 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (errno != 0 || value < min || value > max) return std::nullopt;
  return value;
}

bool isAscii(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// "HOST:PORT", "[v6-address]:PORT" or "v6-address:PORT" (split at the last colon).
bool splitHostPort(const std::string& text, DemoOptions& o) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || !isAscii(text) || !boundedNumber(text.substr(colon + 1), 1, 65535)) {
    return false;
  }
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  o.collectorHost = host;
  o.collectorPort = text.substr(colon + 1);
  return true;
}

class Parser {
 public:
  Parser(int argc, const char* const* argv) : argc_(argc), argv_(argv) {}

  CommandLine run() {
    for (next_ = 1; next_ < argc_ && result_.action == CommandLine::Action::Run;) takeArgument();
    if (result_.action == CommandLine::Action::Run) checkCombination();
    return result_;
  }

 private:
  void refuse(std::string problem) {
    result_.action = CommandLine::Action::Refuse;
    result_.problem = std::move(problem);
  }

  void takeArgument() {
    const std::string arg = argv_[next_++];
    // Only long options take "=VALUE".
    const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, equals);
    std::optional<std::string> inlineValue;
    if (equals != std::string::npos) inlineValue = arg.substr(equals + 1);

    if (name == "-h" || name == "--help" || name == "--version" || name == "--default-start") {
      if (inlineValue) return refuse(name + " takes no value");
      if (name == "--default-start") {
        result_.options.defaultStart = true;
      } else {
        result_.action = name == "--version" ? CommandLine::Action::Version : CommandLine::Action::Help;
      }
      return;
    }
    if (name != "--seconds" && name != "--threads" && name != "--logdir" && name != "--collector") {
      if (arg.rfind("-", 0) == 0) return refuse("unknown option '" + arg + "'");
      return refuse("unexpected argument '" + arg + "'");
    }
    if (!inlineValue && next_ >= argc_) return refuse(name + " needs a value");
    takeValue(name, inlineValue ? *inlineValue : std::string(argv_[next_++]));
  }

  void takeValue(const std::string& name, const std::string& value) {
    DemoOptions& o = result_.options;
    if (name == "--seconds" || name == "--threads") {
      const long max = name == "--seconds" ? kMaxSeconds : kMaxThreads;
      const std::optional<long> number = boundedNumber(value, 1, max);
      if (!number)
        return refuse(name + ": expected a whole number from 1 to " + std::to_string(max) + ", not '" + value + "'");
      (name == "--seconds" ? o.seconds : o.threads) = static_cast<int>(*number);
    } else if (name == "--logdir") {
      if (value.empty()) return refuse("--logdir: the directory name is empty");
      // The library writes other characters of file names as '#'.
      if (!isAscii(value))
        return refuse("--logdir: the library takes directory names in ASCII only, not '" + value + "'");
      o.logdir = value;
      logdirGiven_ = true;
    } else if (!splitHostPort(value, o)) {
      refuse("--collector wants HOST:PORT with a port from 1 to 65535, not '" + value + "'");
    }
  }

  // With --default-start the library takes everything from mox.conf or its defaults.
  void checkCombination() {
    if (!result_.options.defaultStart) return;
    if (!result_.options.collectorHost.empty()) return refuse("--collector and --default-start exclude each other");
    if (logdirGiven_) refuse("--logdir and --default-start exclude each other (logdir then comes from mox.conf)");
  }

  int argc_;
  const char* const* argv_;
  int next_ = 1;
  bool logdirGiven_ = false;
  CommandLine result_;
};

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) { return Parser(argc, argv).run(); }

const char* usageText() {
  return R"(Usage: mox-demo [--seconds N] [--threads N] [--logdir DIR] [--collector HOST:PORT]
       mox-demo [--seconds N] [--threads N] --default-start
       mox-demo --help | --version

Plays a multi-threaded server instrumented with the mox library for a few
seconds, cutting one metric interval per second, and tells at the end what
its metric data and transaction traces show.

  --seconds N            how long to run, 1 to 3600 (default 3)
  --threads N            worker threads, 1 to 64 (default 4)
  --logdir DIR           where the library writes its trace file and the metric
                         data file mox-demo_mtdata.log (default ./mox-out)
  --collector HOST:PORT  stream metric data and traces to a collecting agent
                         (mox-collect) instead of writing the metric data file
  --default-start        start the library as a host without configuration
                         does (MOX_ProcInit alone, or mox.conf when there is
                         one): data goes to the collector on localhost:59818
  -h, --help             show this help
  --version              print the version of the mox library
)";
}
