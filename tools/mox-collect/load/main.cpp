// mox-collect-load: writes the byte stream of many simulated library processes,
// to measure what one collector takes. See README.md of mox-collect, "Capacity".
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "endpoint.h"
#include "expat_rate.h"
#include "load_sender.h"

namespace {

using namespace moxload;

constexpr const char* kUsage =
    "usage: mox-collect-load [--processes N] [--keys N] [--resources N] [--intervals N] [--period SECONDS]\n"
    "                        (--connect HOST:PORT | --write FILE | --expat)\n"
    "  --connect HOST:PORT  one TCP connection per process, as the library's metric connection\n"
    "  --write FILE         the same lines into one file (FILE - for standard output)\n"
    "  --expat              parse the same bytes with expat alone and print its rate\n"
    "  defaults: 200 processes, 100 timing keys and 1 resource each, 10 intervals, period 0 (back to back)\n";

enum class Mode { None, Connect, Write, Expat };

struct Arguments {
  SendPlan plan;
  Mode mode = Mode::None;
  std::string target;
};

bool readInt(std::string_view text, int& out, int low) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= low;
}

bool readArguments(int argc, char** argv, Arguments& args) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (i + 1 < argc) {
      const std::string_view value = argv[i + 1];
      bool known = true, ok = true;
      if (option == "--processes")
        ok = readInt(value, args.plan.shape.processes, 1);
      else if (option == "--keys")
        ok = readInt(value, args.plan.shape.keys, 1);
      else if (option == "--resources")
        ok = readInt(value, args.plan.shape.resources, 0);
      else if (option == "--intervals")
        ok = readInt(value, args.plan.intervals, 1);
      else if (option == "--period")
        ok = (args.plan.periodSeconds = std::atof(argv[i + 1])) >= 0;
      else if (option == "--connect")
        args.mode = Mode::Connect, args.target = value;
      else if (option == "--write")
        args.mode = Mode::Write, args.target = value;
      else
        known = false;
      if (known) {
        if (!ok) return false;
        ++i;
        continue;
      }
    }
    if (option == "--expat") {
      args.mode = Mode::Expat;
      continue;
    }
    return false;
  }
  return args.mode != Mode::None;
}

void printRate(const char* what, int64_t lines, int64_t bytes, double seconds) {
  std::printf("%s lines=%lld bytes=%lld seconds=%.3f lines_per_second=%.0f\n", what, static_cast<long long>(lines),
              static_cast<long long>(bytes), seconds, seconds > 0 ? static_cast<double>(lines) / seconds : 0.0);
}

int connectMode(const Arguments& args) {
  moxcollect::Endpoint endpoint;
  std::string error;
  if (!moxcollect::parseEndpoint(args.target, endpoint, error) || endpoint.port == 0) {
    std::cerr << "mox-collect-load: --connect " << args.target << ": " << (error.empty() ? "port 0" : error) << '\n';
    return 2;
  }
  const SendResult sent = sendLoad(endpoint.host, endpoint.port, args.plan);
  if (!sent.ok) {
    std::cerr << "mox-collect-load: " << sent.error << '\n';
    return 1;
  }
  printRate("sent", sent.lines, sent.bytes, sent.seconds);
  return 0;
}

int writeMode(const Arguments& args) {
  std::ofstream file;
  if (args.target != "-") file.open(args.target, std::ios::binary | std::ios::trunc);
  std::ostream& out = args.target == "-" ? std::cout : file;
  std::string text;
  for (int p = 0; p < args.plan.shape.processes; ++p) appendVersionLine(text, p);
  out << text;
  for (int interval = 0; interval < args.plan.intervals; ++interval) {
    text.clear();
    for (int p = 0; p < args.plan.shape.processes; ++p) appendInterval(text, args.plan.shape, p, interval);
    out << text;
  }
  out.flush();
  if (!out.good()) {
    std::cerr << "mox-collect-load: cannot write " << args.target << '\n';
    return 1;
  }
  return 0;
}

int expatMode(const Arguments& args) {
  const ParseResult parsed = expatParseRate(args.plan);
  if (!parsed.ok) {
    std::cerr << "mox-collect-load: expat rejected the stream\n";
    return 1;
  }
  printRate("expat", parsed.elements, parsed.bytes, parsed.seconds);
  std::printf("expat_cpu cpu_seconds=%.3f lines_per_cpu_second=%.0f\n", parsed.cpuSeconds,
              parsed.cpuSeconds > 0 ? static_cast<double>(parsed.elements) / parsed.cpuSeconds : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (!readArguments(argc, argv, args)) {
    std::cerr << kUsage;
    return 2;
  }
  switch (args.mode) {
    case Mode::Connect: return connectMode(args);
    case Mode::Write: return writeMode(args);
    case Mode::Expat: return expatMode(args);
    case Mode::None: break;
  }
  return 2;
}
