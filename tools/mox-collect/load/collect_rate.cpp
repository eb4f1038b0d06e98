// mox-collect-rate: how fast the collector ingests the load driver's stream
// (200 library processes x 100 timing keys by default), as a ratio to expat's
// raw parse rate of the same bytes, both measured in one run.
//
//   mox-collect-rate [--sink out|top|prometheus] [--rounds N] [--processes N] [--keys N] [--intervals N]
//
// Each process's stream (load_stream.h) goes over a connection of its own. A
// round times
//   - expat: a plain XML_Parse loop over every stream (wrapped in one root
//     element each, since a stream is a series of top-level elements),
//     counting the top-level elements;
//   - the collector: a Collector on a loopback port with the chosen sink
//     (--out into a temporary directory, --top rendered once at the end, or
//     --prometheus serving on a free loopback port, not scraped);
//     the sender (this program's main thread) connects once per process and
//     writes every stream, round-robin, and the time runs until the collector
//     has written and flushed its last record.
// The two alternate for N rounds (default 5); the medians and their ratio are
// printed by the wall clock and by CPU time, which other load on a shared
// machine hardly moves: expat's thread against the collector's loop and
// writer threads together (the sender not counted), and against the loop
// thread alone, which reads and parses every byte and so bounds the rate
// when the writer has a core of its own.
#include <arpa/inet.h>
#include <expat.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "collector.h"
#include "load_stream.h"
#include "prometheus_sink.h"
#include "raw_file_sink.h"
#include "top_sink.h"

namespace {

using Clock = std::chrono::steady_clock;
using moxcollect::Collector;
using moxcollect::CollectorSettings;
using moxcollect::RecordSink;

struct Settings {
  std::string sink = "out";
  int rounds = 5;
  moxload::LoadShape shape;
  int intervals = 4;
};

struct Timing {
  double wall = 0;
  double cpu = 0;   // expat's thread; the collector's loop and writer threads
  double loop = 0;  // the collector's loop thread alone, which reads and parses
  long faults = 0;  // page faults of the whole process meanwhile (the sender makes next to none)
};

double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long pageFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt + usage.ru_majflt;
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One stream per process: its version line, then its intervals.
std::vector<std::string> makeStreams(const Settings& settings) {
  std::vector<std::string> streams(static_cast<size_t>(settings.shape.processes));
  for (int process = 0; process < settings.shape.processes; ++process) {
    std::string& out = streams[static_cast<size_t>(process)];
    moxload::appendVersionLine(out, process);
    for (int interval = 0; interval < settings.intervals; ++interval) {
      moxload::appendInterval(out, settings.shape, process, interval);
    }
  }
  return streams;
}

// --- expat alone -----------------------------------------------------------

struct Depth {
  int depth = 0;
  uint64_t topLevel = 0;  // elements directly under the wrapping root
};

void XMLCALL onStart(void* data, const XML_Char*, const XML_Char**) {
  auto* d = static_cast<Depth*>(data);
  if (++d->depth == 2) ++d->topLevel;
}

void XMLCALL onEnd(void* data, const XML_Char*) { --static_cast<Depth*>(data)->depth; }

// The top-level elements of all streams, parsed by expat in 64 KiB pieces.
uint64_t expatElements(const std::vector<std::string>& streams) {
  constexpr size_t kPiece = 64 * 1024;
  Depth depth;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  for (const std::string& stream : streams) {
    XML_ParserReset(parser, "UTF-8");
    XML_SetUserData(parser, &depth);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_Parse(parser, "<s>", 3, XML_FALSE);
    for (size_t at = 0; at < stream.size(); at += kPiece) {
      const size_t n = std::min(kPiece, stream.size() - at);
      if (XML_Parse(parser, stream.data() + at, static_cast<int>(n), XML_FALSE) != XML_STATUS_OK) {
        throw std::runtime_error(std::string("expat: ") + XML_ErrorString(XML_GetErrorCode(parser)));
      }
    }
    XML_Parse(parser, "</s>", 4, XML_TRUE);
  }
  XML_ParserFree(parser);
  return depth.topLevel;
}

// --- the collector end to end ----------------------------------------------

int connectTo(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot connect to the collector");
  }
  ::fcntl(fd, F_SETFL, O_NONBLOCK);
  return fd;
}

// Writes every stream on its own connection, round-robin as the sockets take it, then closes them.
void sendAll(uint16_t port, const std::vector<std::string>& streams) {
  std::vector<int> fds;
  std::vector<size_t> sent(streams.size(), 0);
  for (size_t i = 0; i < streams.size(); ++i) fds.push_back(connectTo(port));
  for (size_t left = streams.size(); left > 0;) {
    std::vector<pollfd> waiting;
    std::vector<size_t> which;
    for (size_t i = 0; i < streams.size(); ++i) {
      if (sent[i] < streams[i].size()) {
        waiting.push_back({fds[i], POLLOUT, 0});
        which.push_back(i);
      }
    }
    if (::poll(waiting.data(), waiting.size(), 10000) <= 0) throw std::runtime_error("the collector reads nothing");
    for (size_t k = 0; k < waiting.size(); ++k) {
      if (waiting[k].revents == 0) continue;
      const size_t i = which[k];
      const ssize_t n = ::send(fds[i], streams[i].data() + sent[i], streams[i].size() - sent[i], MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN) throw std::runtime_error("send failed");
      if (n > 0) sent[i] += static_cast<size_t>(n);
      if (sent[i] == streams[i].size()) --left;
    }
  }
  for (const int fd : fds) ::close(fd);
}

// From the first connection until the collector has written every record.
Timing collectorTime(const Settings& settings, const std::vector<std::string>& streams, uint64_t records) {
  moxcollect::Log log(std::cerr);
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("mox-collect-rate-" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  std::ostringstream table;
  std::unique_ptr<RecordSink> sink;
  if (settings.sink == "top") {
    sink = std::make_unique<moxcollect::TopSink>(table, std::chrono::seconds(5), 10, false);
  } else if (settings.sink == "prometheus") {
    auto prometheus = std::make_unique<moxcollect::PrometheusSink>();
    std::string error;
    if (!prometheus->serve({"127.0.0.1", 0}, error)) throw std::runtime_error(error);
    sink = std::move(prometheus);
  } else {
    sink = std::make_unique<moxcollect::RawFileSink>(directory.string(), log);
  }
  CollectorSettings collectorSettings;
  collectorSettings.listen = {{"127.0.0.1", 0}};
  collectorSettings.quiet = true;
  collectorSettings.recordLimit = records;
  collectorSettings.runFor = std::chrono::seconds(120);
  Collector collector(collectorSettings, {sink.get()}, log);
  if (!collector.open()) throw std::runtime_error("cannot listen");
  const uint16_t port = collector.listeners().front().port();

  const Clock::time_point start = Clock::now();
  const double processCpu = processCpuSeconds();
  const long faults = pageFaults();
  const double senderCpu = threadCpuSeconds();
  Timing timing;
  auto running = std::async(std::launch::async, [&collector, &timing] {
    const double loopCpu = threadCpuSeconds();
    const bool ran = collector.run();
    timing.loop = threadCpuSeconds() - loopCpu;
    return ran;
  });
  sendAll(port, streams);
  const bool ok = running.get();
  timing.wall = secondsSince(start);
  timing.cpu = (processCpuSeconds() - processCpu) - (threadCpuSeconds() - senderCpu);
  timing.faults = pageFaults() - faults;
  const uint64_t got = collector.stats().records();
  std::filesystem::remove_all(directory);
  if (!ok || got != records || collector.stats().sinkDropped != 0) {
    throw std::runtime_error("the collector got " + std::to_string(got) + " of " + std::to_string(records) +
                             " records, dropped " + std::to_string(collector.stats().sinkDropped.load()));
  }
  return timing;
}

int readCount(const char* text) { return std::max(1, std::atoi(text)); }

Settings parse(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--sink" && i + 1 < argc) {
      settings.sink = argv[++i];
    } else if (arg == "--rounds" && i + 1 < argc) {
      settings.rounds = readCount(argv[++i]);
    } else if (arg == "--processes" && i + 1 < argc) {
      settings.shape.processes = readCount(argv[++i]);
    } else if (arg == "--keys" && i + 1 < argc) {
      settings.shape.keys = readCount(argv[++i]);
    } else if (arg == "--intervals" && i + 1 < argc) {
      settings.intervals = readCount(argv[++i]);
    } else {
      settings.sink.clear();
    }
  }
  if (settings.sink != "out" && settings.sink != "top" && settings.sink != "prometheus") {
    throw std::runtime_error(
        "usage: mox-collect-rate [--sink out|top|prometheus] [--rounds N] [--processes N] [--keys N] "
        "[--intervals N]");
  }
  return settings;
}

void printRates(const char* what, double elements, double bytes, const std::vector<Timing>& times) {
  std::vector<double> wall;
  std::vector<double> cpu;
  for (const Timing& t : times) wall.push_back(t.wall), cpu.push_back(t.cpu);
  std::printf("%-23s %9.0f elements/s %6.1f MB/s, %9.0f elements per CPU second\n", what, elements / median(wall),
              bytes / median(wall) / 1e6, elements / median(cpu));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Settings settings = parse(argc, argv);
    if (settings.sink == "prometheus") moxcollect::PrometheusSink::keepScrapeMemory();  // as mox-collect does
    const std::vector<std::string> streams = makeStreams(settings);
    size_t bytes = 0;
    for (const std::string& stream : streams) bytes += stream.size();
    const uint64_t elements = expatElements(streams);
    std::vector<Timing> expat;
    std::vector<Timing> collector;
    for (int round = 0; round < settings.rounds; ++round) {
      const Clock::time_point start = Clock::now();
      const double cpu = threadCpuSeconds();
      expatElements(streams);
      const double expatCpu = threadCpuSeconds() - cpu;
      expat.push_back({secondsSince(start), expatCpu, expatCpu});
      collector.push_back(collectorTime(settings, streams, elements));
      std::printf(
          "round %d: expat %.3f s (%.3f s CPU), collector --%s %.3f s (%.3f s CPU, loop thread %.3f s, %ld page"
          " faults)\n",
          round + 1, expat.back().wall, expat.back().cpu, settings.sink.c_str(), collector.back().wall,
          collector.back().cpu, collector.back().loop, collector.back().faults);
    }
    const double count = static_cast<double>(elements);
    std::printf("%zu connections, %llu elements, %.1f MB; medians of %d rounds:\n", streams.size(),
                static_cast<unsigned long long>(elements), static_cast<double>(bytes) / 1e6, settings.rounds);
    printRates("expat alone:", count, static_cast<double>(bytes), expat);
    const std::string label = "collector --" + settings.sink + ":";
    printRates(label.c_str(), count, static_cast<double>(bytes), collector);
    const auto ratio = [&](double Timing::*field) {
      std::vector<double> a;
      std::vector<double> b;
      for (const Timing& t : expat) a.push_back(t.*field);
      for (const Timing& t : collector) b.push_back(t.*field);
      return median(a) / median(b);
    };
    std::printf(
        "ratio collector / expat: %.2f by the wall clock, %.2f by CPU time (both threads), %.2f by the loop"
        " thread's CPU time\n",
        ratio(&Timing::wall), ratio(&Timing::cpu), ratio(&Timing::loop));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mox-collect-rate: %s\n", e.what());
    return 1;
  }
}
