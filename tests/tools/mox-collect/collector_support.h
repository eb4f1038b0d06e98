// Shared by the collector tests: a realistic library stream, a running
// collector that keeps what it gets, and a blocking TCP client.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>

#include "collector.h"
#include "stream_splitter.h"
#include "support/test_files.h"

namespace collecttest {

// Every kind of line one start of the library sends, escaped and non-ASCII
// text included; '@' stands for the system and process part of the names.
inline std::string sampleStream(const std::string& process = "disp_3") {
  const std::string text =
      R"X(<metric type="StringEvent" name="@:MOX library version" value="2.3.6" />
<metric type="IntAverage" name="@|Order|create:Finished Counter" value="14" />
<metric type="IntAverage" name="@|Order|create:Avg. Elapsed Time(ms)" value="37" max="120" min="3" count="13" />
<metric type="IntAverage" name="@|blue|Db|select:Avg. CPU Time(us)" value="-1" max="-1" min="-1" count="13" />
<metric type="LongCounter" name="@|Open Requests:Current Value" value="9" max="9" min="8" count="1" />
<metric type="LongCounter" name="@|Open Requests:waits" value="4" count="1" />
<metric type="LongCounterNone" name="@|Zombie Context Count:Current Value" value="0" />
<event resource="Order|create" startTime="2024-03-01 10:15:02" duration="57">)X"
      R"X(<calledComponent resource="Db|select" offset="4" duration="40"><calledComponent resource="Db|fetch" offset="10")X"
      R"X( duration="20"><param name="CPU Time (us)" value="-1" /></calledComponent><param name="CPU Time (us)")X"
      R"X( value="1500" /><param name="sql" value="a &lt; b &amp;&amp; c &gt; &quot;d&quot;&#10;next" />)X"
      R"X(</calledComponent><param name="CPU Time (us)" value="2500" /><param name="user" value="Zürich 日本" />)X"
      R"X(<param name="client.header.VEL-PASSPORT" value="0123ABCD*1000" /><param name="Method Call Error")X"
      R"X( value="one" /><param name="Method Call Error" value="two" /></event>
)X";
  return std::regex_replace(text, std::regex("@"), "VEL_MOX|" + process);
}

// One interval of a timing key of process ("name_instance"): its average line and its finished counter.
inline std::string timingLines(const std::string& process, const std::string& key, int average, int max, int finished) {
  const std::string name = "<metric type=\"IntAverage\" name=\"VEL_MOX|" + process + "|" + key;
  return name + ":Avg. Elapsed Time(ms)\" value=\"" + std::to_string(average) + "\" max=\"" + std::to_string(max) +
         "\" min=\"1\" count=\"3\" />\n" + name + ":Finished Counter\" value=\"" + std::to_string(finished) + "\" />\n";
}

// One metric line of process p_1.
inline const std::string kLine = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />";

inline std::string repeated(const std::string& text, size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// `outer` holding `inner` nested so that the whole is `depth` levels deep.
inline std::string nested(const std::string& outer, const std::string& inner, size_t depth) {
  return "<" + outer + ">" + repeated("<" + inner + ">", depth - 1) + repeated("</" + inner + ">", depth - 1) + "</" +
         outer + ">";
}

// The lines of a text without their line feeds: the elements of a sample stream.
inline std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The records the stream's elements make, as the collector builds them.
inline std::vector<moxcollect::Record> recordsOf(const std::string& stream) {
  std::vector<moxcollect::Record> records;
  moxcollect::StreamSplitter splitter(
      [&](moxcollect::Element&& e, std::string&& raw) { records.push_back(makeRecord(std::move(e), std::move(raw))); },
      [](const std::string&, const std::string&) {});
  splitter.feed(stream);
  return records;
}

// The records as one connection gives them: a trace takes the process of the last version line before it.
inline std::vector<moxcollect::Record> connectionRecordsOf(const std::string& stream) {
  std::vector<moxcollect::Record> records = recordsOf(stream);
  moxcollect::Identity process;
  for (moxcollect::Record& record : records) {
    if (record.kind == moxcollect::RecordKind::Version) process = record.identity;
    if (record.kind == moxcollect::RecordKind::Trace) record.identity = process;
  }
  return records;
}

// A steady clock that moves only when told, for a collector's time-outs.
class ManualClock {
 public:
  moxcollect::SteadyClock reader() {
    return [this] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(now_.load())); };
  }
  void set(std::chrono::milliseconds at) { now_ = at.count(); }

 private:
  std::atomic<int64_t> now_{0};
};

// A collector on an ephemeral loopback port, running on its own thread from construction. It keeps
// every record, or (keep false) only counts the timing lines (IntAverage) per "process_instance".
class RunningCollector : public moxcollect::RecordSink {
 public:
  explicit RunningCollector(moxcollect::CollectorSettings settings = {}, bool keep = true)
      : keep_(keep), collector_((settings.listen = {{"127.0.0.1", 0}}, settings), {this}, log_) {
    if (collector_.open()) finished_ = std::async(std::launch::async, [this] { return collector_.run(); });
  }
  ~RunningCollector() override { stop(); }

  void write(const moxcollect::Record& record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (keep_) records_.push_back(record);
    const std::string* type = record.element.attribute("type");
    if (type != nullptr && *type == "IntAverage") ++timingLines_[record.metric.process + "_" + record.metric.instance];
  }
  std::vector<moxcollect::Record> records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  size_t size() const { return records().size(); }
  size_t timingLinesOf(const std::string& process) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = timingLines_.find(process);
    return found == timingLines_.end() ? 0 : found->second;
  }
  void stop() {
    if (finished_.valid()) collector_.requestStop(), finished_.get();
  }
  // Waits for the collector to stop by itself; false if it is still running after 20 s.
  bool endsByItself() { return finished_.wait_for(std::chrono::seconds(20)) == std::future_status::ready; }
  uint16_t port() const { return collector_.listeners().at(0).port(); }  // throws when it could not listen
  const moxcollect::Stats& stats() const { return collector_.stats(); }
  std::string log() const { return logText_.str(); }  // only after the collector stopped
  moxcollect::Collector& collector() { return collector_; }

 private:
  mutable std::mutex mutex_;
  bool keep_;
  std::vector<moxcollect::Record> records_;
  std::map<std::string, size_t> timingLines_;
  std::ostringstream logText_;
  moxcollect::Log log_{logText_};
  moxcollect::Collector collector_;
  std::future<bool> finished_;
};

// A blocking TCP socket connected to the loopback address from `from` (each 127.x.y.z is a peer
// address of its own); closes on destruction. A send that cannot go on for 20 s fails.
class Client {
 public:
  explicit Client(uint16_t port, const char* from = "127.0.0.1") : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in source{AF_INET, 0, {}, {}};
    inet_pton(AF_INET, from, &source.sin_addr);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source);
    const timeval limit{20, 0};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~Client() { ::close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  // Sends in pieces of at most `piece` bytes; false when not connected.
  bool send(const std::string& bytes, size_t piece = SIZE_MAX) {
    for (size_t at = 0; at < bytes.size();) {
      const ssize_t n = ::send(fd_, bytes.data() + at, std::min(piece, bytes.size() - at), MSG_NOSIGNAL);
      if (n <= 0) return false;
      at += static_cast<size_t>(n);
    }
    return true;
  }
  // Ends both directions: a send waiting for room fails at once.
  void shutdown() { ::shutdown(fd_, SHUT_RDWR); }
  // Waits up to 20 s for the collector to close the connection.
  bool closedByCollector() {
    pollfd ready{fd_, POLLIN, 0};
    char byte;
    return ::poll(&ready, 1, 20000) == 1 && ::recv(fd_, &byte, 1, MSG_DONTWAIT) <= 0;
  }
  // Everything the peer sends until it closes, waiting up to 20 s for each piece.
  std::string receiveAll() {
    std::string all;
    char buffer[4096];
    pollfd ready{fd_, POLLIN, 0};
    for (ssize_t n; ::poll(&ready, 1, 20000) == 1 && (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0;)
      all.append(buffer, static_cast<size_t>(n));
    return all;
  }
  // True while the collector keeps the connection: nothing to read and no end seen.
  bool open() {
    char byte;
    return ::recv(fd_, &byte, 1, MSG_DONTWAIT) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }

 private:
  int fd_;
};

// Sends text and a line feed on client; true once the collector has one record more.
inline bool sendRecord(RunningCollector& collector, Client& client, const std::string& text) {
  const size_t before = collector.size();
  return client.send(text + "\n") && testsupport::waitUntil([&] { return collector.size() == before + 1; });
}

}  // namespace collecttest
