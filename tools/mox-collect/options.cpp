#include "options.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>

namespace moxcollect {

namespace {

constexpr const char* kDefaultListen = "127.0.0.1:59818";

bool readCount(const std::string& text, uint64_t& out) {
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && ptr == text.data() + text.size();
}

// Seconds, fractions allowed ("0.5"), at least 1 ms and at most a day.
bool readSeconds(const std::string& text, std::chrono::milliseconds& out) {
  double seconds = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(seconds) ||
      seconds < 0.001 || seconds > 86400) {
    return false;
  }
  out = std::chrono::milliseconds(std::llround(seconds * 1000));
  return true;
}

using ValueSetter = std::function<std::string(Options&, const std::string&)>;  // returns an error or ""

// A number from min to max, optionally followed by one of units, the binary
// multiples K, M, G in this order.
bool readLimit(const std::string& text, const char* units, uint64_t min, uint64_t max, size_t& out) {
  uint64_t number = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, number);
  if (text.empty() || ec != std::errc() || end - ptr > 1) return false;
  const char* unit = ptr == end ? nullptr : std::strchr(units, *ptr);
  if (ptr != end && (unit == nullptr || *unit == '\0')) return false;
  const int shift = unit == nullptr ? 0 : 10 * static_cast<int>(unit - units + 1);
  if (number > (max >> shift) || (number << shift) < min) return false;
  out = static_cast<size_t>(number << shift);
  return true;
}

// One of the limits per element: a size (which may end in K, M or G) or a plain number.
ValueSetter limitOption(const std::string& name, size_t ElementLimits::*limit, bool size, uint64_t min, uint64_t max,
                        const std::string& range) {
  return [=](Options& o, const std::string& v) {
    return readLimit(v, size ? "KMG" : "", min, max, o.limits.*limit)
               ? std::string()
               : name + ": expected " + range + ", got '" + v + "'";
  };
}

// A setter for a whole number from low to high.
ValueSetter number(uint64_t Options::*field, const std::string& name, uint64_t low, uint64_t high) {
  return [=](Options& o, const std::string& v) {
    uint64_t value = 0;
    if (!readCount(v, value) || value < low || value > high) {
      return name + ": expected a number from " + std::to_string(low) + " to " + std::to_string(high) + ", got '" + v +
             "'";
    }
    o.*field = value;
    return std::string();
  };
}

const std::map<std::string, ValueSetter>& valueOptions() {
  static const std::map<std::string, ValueSetter> table = {
      {"--listen",
       [](Options& o, const std::string& v) {
         Endpoint endpoint;
         std::string error;
         if (!parseEndpoint(v, endpoint, error)) return "--listen: " + error;
         o.listen.push_back(endpoint);
         return std::string();
       }},
      {"--prometheus",
       [](Options& o, const std::string& v) {
         Endpoint endpoint;
         std::string error;
         if (!parseEndpoint(v, endpoint, error)) return "--prometheus: " + error;
         o.prometheus = endpoint;
         return std::string();
       }},
      {"--prometheus-expiry", number(&Options::prometheusExpiry, "--prometheus-expiry", 1, 1000)},
      {"--prometheus-max-series", number(&Options::prometheusMaxSeries, "--prometheus-max-series", 100, 100000000)},
      {"--out",
       [](Options& o, const std::string& v) {
         o.outDir = v;
         return v.empty() ? std::string("--out: the directory name is empty") : std::string();
       }},
      {"--interval",
       [](Options& o, const std::string& v) {
         return readSeconds(v, o.interval) ? std::string()
                                           : "--interval: expected seconds from 0.001 to 86400, got '" + v + "'";
       }},
      {"--rows",
       [](Options& o, const std::string& v) {
         uint64_t rows = 0;
         if (!readCount(v, rows) || rows == 0 || rows > 1000) {
           return "--rows: expected a number from 1 to 1000, got '" + v + "'";
         }
         o.rows = static_cast<size_t>(rows);
         return std::string();
       }},
      {"--count",
       [](Options& o, const std::string& v) {
         return readCount(v, o.count) && o.count > 0 ? std::string()
                                                     : "--count: expected a positive number, got '" + v + "'";
       }},
      {"--timeout",
       [](Options& o, const std::string& v) {
         std::chrono::milliseconds limit{};
         if (!readSeconds(v, limit)) return "--timeout: expected seconds from 0.001 to 86400, got '" + v + "'";
         o.timeout = limit;
         return std::string();
       }},
      {"--idle-timeout",
       [](Options& o, const std::string& v) {
         if (v == "0") {
           o.idleTimeout = std::chrono::milliseconds(0);
           return std::string();
         }
         return readSeconds(v, o.idleTimeout)
                    ? std::string()
                    : "--idle-timeout: expected 0 or seconds from 0.001 to 86400, got '" + v + "'";
       }},
      {"--max-connections", number(&Options::maxConnections, "--max-connections", 1, 1000000)},
      {"--max-per-address", number(&Options::maxPerAddress, "--max-per-address", 1, 1000000)},
      {"--memory-mib", number(&Options::memoryMib, "--memory-mib", 1, 1u << 20)},
      {"--queue-mib", number(&Options::queueMib, "--queue-mib", 1, 1u << 20)},
      {"--top-keys", number(&Options::topKeys, "--top-keys", 40, 100000000)},
      {"--max-files", number(&Options::maxFiles, "--max-files", 1, 10000000)},
      {"--max-open-files", number(&Options::maxOpenFiles, "--max-open-files", 1, 100000)},
      {"--max-element-bytes",
       limitOption("--max-element-bytes", &ElementLimits::maxBytes, true, 1 << 10, 1 << 30, "a size from 1K to 1G")},
      {"--max-depth",
       limitOption("--max-depth", &ElementLimits::maxDepth, false, 1, 1000000, "a number from 1 to 1000000")},
      {"--max-element-memory", limitOption("--max-element-memory", &ElementLimits::maxMemory, true, 1 << 10,
                                           uint64_t{1} << 40, "a size from 1K to 1024G")},
      {"--port-file",
       [](Options& o, const std::string& v) {
         o.portFile = v;
         return v.empty() ? std::string("--port-file: the file name is empty") : std::string();
       }},
  };
  return table;
}

const std::map<std::string, bool Options::*>& flagOptions() {
  static const std::map<std::string, bool Options::*> table = {
      {"--json", &Options::json},       {"--top", &Options::top},   {"--once", &Options::once},
      {"--quiet", &Options::quiet},     {"--help", &Options::help}, {"-h", &Options::help},
      {"--version", &Options::version},
  };
  return table;
}

std::string checkCombination(Options& o) {
  if (o.json && o.top) return "--json and --top both write to standard output; choose one";
  if (o.topKeys < 4 * o.rows) return "--top-keys must be at least 4 times --rows, to rank the rows it shows";
  if (o.listen.empty()) {
    Endpoint endpoint;
    std::string unused;
    parseEndpoint(kDefaultListen, endpoint, unused);
    o.listen.push_back(endpoint);
  }
  if (!o.top && o.outDir.empty() && !o.prometheus) o.json = true;
  return std::string();
}

}  // namespace

ParsedOptions parseOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  Options& o = parsed.options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    const size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (const auto flag = flagOptions().find(name); flag != flagOptions().end()) {
      if (value) {
        parsed.error = name + " takes no value";
        return parsed;
      }
      o.*(flag->second) = true;
      continue;
    }
    const auto setter = valueOptions().find(name);
    if (setter == valueOptions().end()) {
      parsed.error = "unknown option '" + args[i] + "'";
      return parsed;
    }
    if (!value) {
      if (i + 1 >= args.size()) {
        parsed.error = name + " needs a value";
        return parsed;
      }
      value = args[++i];
    }
    parsed.error = setter->second(o, *value);
    if (!parsed.error.empty()) return parsed;
  }
  if (o.help || o.version) return parsed;
  parsed.error = checkCombination(o);
  return parsed;
}

std::string helpText() {
  return R"(Usage: mox-collect [OPTION]...
Receives the metric lines and transaction traces that libmox streams to its
collecting agents (datasending_method = socket) and writes them out.

Listening:
  --listen HOST:PORT   address to listen on; an IPv6 address goes in brackets,
                       e.g. [::1]:59818; port 0 takes a free port. May be given
                       more than once; a host name binds all its addresses.
                       Default: 127.0.0.1:59818
  --port-file FILE     write the port actually listened on to FILE (useful
                       with port 0)

Output (--out and --prometheus combine with --json or --top; without any
of them, --json is used):
  --json               one JSON object per metric line or trace on standard
                       output (JSON Lines)
  --out DIR            append each element, as received, to
                       DIR/<process>_<instance>_mtdata.log
  --top                a live table on standard output: the slowest timing
                       keys by average and by maximum, the busiest by calls,
                       and the resources
  --interval SECONDS   refresh period of --top (default 5)
  --rows N             rows per table of --top (default 10)
  With --top, the table is redrawn live only on a terminal; otherwise it is
  printed once, when the collector stops.
  --prometheus HOST:PORT  serve the metric lines on http://HOST:PORT/metrics
                       in the Prometheus text format (IPv6 in brackets; port
                       0 takes a free port)
  --prometheus-expiry N   drop a process's series after N of its sending
                       intervals without a line (default 3)
  --prometheus-max-series N  series served at most (default 250000); lines
                       that would make more are refused and counted

Stopping (SIGINT or SIGTERM always stop cleanly):
  --count N            stop after N records (metric lines, version lines,
                       traces)
  --once               stop when every connection has closed, after at least
                       one was accepted
  --timeout SECONDS    stop after this time

Limits (every peer is treated as possibly hostile):
  --idle-timeout SECONDS  close a connection silent for that long (default
                       900; 0: never). Keep it above the hosts'
                       datasending_interval + 1.
  --max-connections N  connections open at once (default 1024, and below the
                       descriptor limit); at the limit a new connection closes
                       the longest-idle one
  --max-per-address N  connections open from one address (default 256); over
                       it a new one closes that address's longest-idle one
  --memory-mib N       MiB held by all connections' unfinished elements
                       (default 256); the connection that goes over is closed
  --queue-mib N        MiB of records waiting for a slow output (default 64);
                       records past it are dropped and counted
  --top-keys N         timing keys and resources --top keeps each (default
                       10000, at least 4 times --rows)
  --max-files N        files --out writes (default 1000); records for more go
                       to DIR/mox-collect-overflow.log
  --max-open-files N   files --out keeps open at once (default 64)

Limits per element (one over a limit is dropped as malformed and the
connection goes on after the next line feed; sizes may end in K, M or G):
  --max-element-bytes SIZE   its length (default 64M)
  --max-depth N              how deeply elements may nest (default 10000)
  --max-element-memory SIZE  the memory it takes while parsed: twice its
                             length plus its tree (default 256M)

  --quiet              no lines about connections and dropped elements
  --version            print the version and exit
  -h, --help           print this help and exit

On stop, what the peers have already sent is read, unfinished elements are
dropped, all output is flushed, and one line is written to standard error:
  "mox-collect: summary connections=N metrics=N versions=N traces=N other=N
  malformed=N truncated=N bytes=N idle_closed=N evicted=N refused=N
  over_budget=N sink_dropped=N top_dropped=N file_overflow=N
  prometheus_malformed=N prometheus_refused=N" (one line)
Exit status: 0 after a stop, 1 when listening or writing fails, 2 for a bad
command line.
)";
}

}  // namespace moxcollect
