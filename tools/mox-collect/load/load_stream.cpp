// The simulated library stream: formatting kept cheap (no allocation per line
// once the buffer has grown) so the driver does not compete with the collector.
#include "load_stream.h"

#include <charconv>
#include <string_view>

namespace moxload {

namespace {

constexpr int kKeysPerComponent = 10;

void appendNumber(std::string& out, int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, static_cast<size_t>(end - digits));
}

// "VEL_MOX|load-host_<process>" : process "load-host", instance <process>.
void appendPrefix(std::string& out, int process) {
  out += "VEL_MOX|load-host_";
  appendNumber(out, process);
}

void appendKey(std::string& out, int key) {
  out += "|Component";
  appendNumber(out, key / kKeysPerComponent);
  out += "|method";
  appendNumber(out, key);
}

void openLine(std::string& out, std::string_view type, int process, int key, std::string_view label, int64_t value) {
  out += "<metric type=\"";
  out += type;
  out += "\" name=\"";
  appendPrefix(out, process);
  appendKey(out, key);
  out += ':';
  out += label;
  out += "\" value=\"";
  appendNumber(out, value);
}

void closeLine(std::string& out) { out += "\" />\n"; }

void counterLine(std::string& out, int process, int key, std::string_view label, int64_t value) {
  openLine(out, "IntAverage", process, key, label, value);
  closeLine(out);
}

void averageLine(std::string& out, int process, int key, std::string_view label, int64_t average, int64_t count) {
  openLine(out, "IntAverage", process, key, label, average);
  out += "\" max=\"";
  appendNumber(out, average * 2);
  out += "\" min=\"";
  appendNumber(out, average / 2);
  out += "\" count=\"";
  appendNumber(out, count);
  closeLine(out);
}

void resourceLine(std::string& out, int process, int resource, int interval) {
  out += "<metric type=\"LongCounter\" name=\"";
  appendPrefix(out, process);
  out += "|Pool";
  appendNumber(out, resource);
  out += ":Current Value\" value=\"";
  appendNumber(out, interval % 10);
  out += "\" max=\"10\" min=\"0\" count=\"1";
  closeLine(out);
}

}  // namespace

int64_t linesPerInterval(const LoadShape& shape) { return int64_t{shape.keys} * 7 + shape.resources; }

int64_t finishedCalls(int key, int interval) { return 10 + key % 7 + interval % 5; }

void appendVersionLine(std::string& out, int process) {
  out += "<metric type=\"StringEvent\" name=\"";
  appendPrefix(out, process);
  out += ":MOX library version\" value=\"2.3.6\" />\n";
}

void appendInterval(std::string& out, const LoadShape& shape, int process, int interval) {
  for (int key = 0; key < shape.keys; ++key) {
    const int64_t finished = finishedCalls(key, interval);
    const int64_t elapsedMs = 1 + key % 50;
    counterLine(out, process, key, "Active Counter", key % 3);
    counterLine(out, process, key, "Finished Counter", finished);
    counterLine(out, process, key, "Finished with undefined state", key % 5 == 0 ? 1 : 0);
    averageLine(out, process, key, "Avg. Elapsed Time(ms)", elapsedMs, finished);
    averageLine(out, process, key, "Avg. CPU Time(us)", 100 + key, finished);
    averageLine(out, process, key, "Avg. Net Elapsed Time(ms)", elapsedMs / 2, finished);
    averageLine(out, process, key, "Avg. Net CPU Time(us)", 50 + key, finished);
  }
  for (int resource = 0; resource < shape.resources; ++resource) resourceLine(out, process, resource, interval);
}

}  // namespace moxload
