#include "trace_ring.h"

#include <charconv>

namespace moxcollect {

namespace {

constexpr const char* kPassportParam = "client.header.VEL-PASSPORT";

std::string processLabel(const Identity& identity) {
  if (identity.process.empty()) return identity.system;
  return identity.instance.empty() ? identity.process : identity.process + "_" + identity.instance;
}

int64_t numberOr(const std::string* text, int64_t otherwise) {
  if (text == nullptr) return otherwise;
  int64_t value = 0;
  const char* end = text->data() + text->size();
  const auto [ptr, ec] = std::from_chars(text->data(), end, value);
  return ec == std::errc() && ptr == end ? value : otherwise;
}

// Counted without recursion: a tree may be deeper than the stack.
size_t countCalls(const Element& root) {
  size_t calls = 1;
  std::vector<const Element*> open{&root};
  while (!open.empty()) {
    const Element* element = open.back();
    open.pop_back();
    for (const Element& child : element->children) {
      if (child.name != "calledComponent") continue;
      ++calls;
      open.push_back(&child);
    }
  }
  return calls;
}

// What an entry holds: its JSON and the texts of its summary.
size_t costOf(const TraceSummary& summary, const std::string& json) {
  return json.size() + summary.key.size() + summary.process.size() + summary.passport.size() + summary.start.size();
}

}  // namespace

TraceSummary summarizeTrace(const Record& record) {
  TraceSummary summary;
  const Element& event = record.element;
  summary.process = processLabel(record.identity);
  if (const std::string* resource = event.attribute("resource")) summary.key = *resource;
  if (const std::string* start = event.attribute("startTime")) summary.start = *start;
  summary.duration = numberOr(event.attribute("duration"), -1);
  for (const Element& child : event.children) {
    const std::string* name = child.attribute("name");
    const std::string* value = child.attribute("value");
    if (child.name == "param" && name != nullptr && value != nullptr && *name == kPassportParam) {
      summary.passport = *value;
    }
  }
  summary.calls = countCalls(event);
  return summary;
}

uint64_t TraceRing::add(TraceSummary summary, std::string json) {
  const size_t cost = costOf(summary, json);
  if (cost > maxBytes_ || capacity_ == 0) {
    ++tooLarge_;
    return 0;
  }
  while (!entries_.empty() && (entries_.size() >= capacity_ || bytes_ + cost > maxBytes_)) {
    const Entry& oldest = entries_.front();
    bytes_ -= costOf(oldest.summary, oldest.json);
    entries_.pop_front();
  }
  summary.id = nextId_++;
  entries_.push_back(Entry{std::move(summary), std::move(json)});
  bytes_ += cost;
  return entries_.back().summary.id;
}

std::vector<TraceSummary> TraceRing::latest(size_t limit, const std::string& process) const {
  std::vector<TraceSummary> out;
  for (auto it = entries_.rbegin(); it != entries_.rend() && out.size() < limit; ++it) {
    if (process.empty() || it->summary.process == process) out.push_back(it->summary);
  }
  return out;
}

const std::string* TraceRing::json(uint64_t id) const {
  if (entries_.empty() || id < entries_.front().summary.id) return nullptr;
  const uint64_t index = id - entries_.front().summary.id;
  return index < entries_.size() ? &entries_[static_cast<size_t>(index)].json : nullptr;
}

}  // namespace moxcollect
