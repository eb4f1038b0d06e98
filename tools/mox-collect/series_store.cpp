#include "series_store.h"

#include <algorithm>
#include <bitset>

#include "label_text.h"

namespace moxcollect {

namespace {

constexpr size_t kUnlisted = SIZE_MAX;

size_t countOf(SeriesMask mask) { return std::bitset<16>(mask).count(); }

size_t labelsOf(SeriesOwner owner) {
  switch (owner) {
    case SeriesOwner::Timing: return kTimingLabels;
    case SeriesOwner::Resource: return kResourceLabels;
    case SeriesOwner::Kpi: return 1;
    case SeriesOwner::Info: break;
  }
  return 0;
}

}  // namespace

// A timing key, resource, KPI or version of one process: its series.
struct SeriesStore::Entry {
  Entry(SeriesOwner o, std::shared_ptr<const LabelSet> l) : owner(o), labels(std::move(l)), staged(labelsOf(o)) {}

  const SeriesOwner owner;
  const std::shared_ptr<const LabelSet> labels;
  // Writer thread only.
  std::vector<LineValues> staged;  // one per label of the owner
  uint32_t stagedLabels = 0;
  SeriesMask reserved = 0;  // counted against the limit: present, and what the staged lines add
  size_t listIndex = kUnlisted;
  // Under the store's mutex once listed.
  SeriesMask present = 0;
  SeriesValues values{};
};

struct SeriesStore::Resource {
  std::unique_ptr<Entry> entry;  // null until a line of the resource itself arrives
  std::unordered_map<std::string, std::unique_ptr<Entry>> kpis;
};

struct SeriesStore::Process {
  Process(ProcessKey k, Clock::time_point now) : key(std::move(k)), activity(now) {}

  const ProcessKey key;
  std::unordered_map<std::string, std::unique_ptr<Entry>> timings;
  std::unordered_map<std::string, Resource> resources;
  std::unique_ptr<Entry> info;
  std::string version;
  std::vector<Entry*> staged;  // the entries with staged lines
  uint64_t connection = 0;     // of the latest metric line
  bool inStaging = false;      // listed in staging_
  ProcessActivity activity;
  // The entry of the latest line: a timing key's lines come together.
  Entry* lastEntry = nullptr;
  const std::string* lastKey = nullptr;
  MappedLine::Kind lastKind = MappedLine::Kind::Ignored;
};

SeriesStore::SeriesStore(size_t maxSeries) : maxSeries_(maxSeries) {}

SeriesStore::~SeriesStore() = default;

SeriesStore::Process* SeriesStore::processFor(const MetricNameView& name, SeriesMask wanted, Clock::time_point now) {
  const ProcessView view{name.system, name.process, name.instance, name.instancePrefix};
  if (lastProcess_ != nullptr && ProcessKeyLess::view(lastProcess_->key) == view) return lastProcess_;
  auto found = processes_.find(view);
  if (found == processes_.end()) {
    // Made only for a line that is let in: a refused one leaves nothing behind.
    if (seriesCounted_ + countOf(wanted) > maxSeries_) return nullptr;
    ProcessKey key{std::string(name.system), std::string(name.process), std::string(name.instance),
                   std::string(name.instancePrefix)};
    auto process = std::make_unique<Process>(key, now);
    found = processes_.emplace(std::move(key), std::move(process)).first;
  }
  lastProcess_ = found->second.get();
  return lastProcess_;
}

std::unique_ptr<SeriesStore::Entry> SeriesStore::makeEntry(const Process& process, SeriesOwner owner,
                                                           const MetricNameView& name, std::string_view extra) const {
  auto labels = std::make_shared<LabelSet>();
  labels->reserve(6);  // the most an owner has: the process's four and two of its own
  const auto add = [&](const char* label, std::string_view value) { labels->push_back({label, validUtf8(value)}); };
  add("system", process.key[0]);
  add("process", process.key[1]);
  add("instance", process.key[2]);
  if (!process.key[3].empty()) add("instance_prefix", process.key[3]);
  switch (owner) {
    case SeriesOwner::Timing: {
      const size_t bar = name.key.find('|');
      add("component", name.key.substr(0, bar));
      add("method", name.key.substr(bar + 1));
      break;
    }
    case SeriesOwner::Resource: add("resource", name.key); break;
    case SeriesOwner::Kpi:
      add("resource", name.key);
      add("kpi", extra);
      break;
    case SeriesOwner::Info: add("version", extra); break;
  }
  return std::make_unique<Entry>(owner, std::move(labels));
}

const std::string& SeriesStore::lookupText(std::string_view text) {
  lookup_.assign(text);
  return lookup_;
}

SeriesStore::Entry* SeriesStore::entryFor(Process& process, const MappedLine& line) {
  const MetricNameView& name = line.name;
  if (process.lastEntry != nullptr && process.lastKind == line.kind && *process.lastKey == name.key &&
      line.kind != MappedLine::Kind::Kpi) {
    return process.lastEntry;
  }
  std::unique_ptr<Entry>* slot = nullptr;
  const std::string* key = nullptr;
  if (line.kind == MappedLine::Kind::Timing) {
    auto found = process.timings.find(lookupText(name.key));
    if (found == process.timings.end()) found = process.timings.emplace(lookup_, nullptr).first;
    slot = &found->second;
    key = &found->first;
  } else {
    auto found = process.resources.find(lookupText(name.key));
    if (found == process.resources.end()) found = process.resources.emplace(lookup_, Resource()).first;
    key = &found->first;
    if (line.kind == MappedLine::Kind::Resource) {
      slot = &found->second.entry;
    } else {
      auto kpi = found->second.kpis.find(lookupText(name.label));
      if (kpi == found->second.kpis.end()) kpi = found->second.kpis.emplace(lookup_, nullptr).first;
      slot = &kpi->second;
    }
  }
  if (!*slot) {
    const SeriesOwner owner = line.kind == MappedLine::Kind::Timing     ? SeriesOwner::Timing
                              : line.kind == MappedLine::Kind::Resource ? SeriesOwner::Resource
                                                                        : SeriesOwner::Kpi;
    *slot = makeEntry(process, owner, name, name.label);
  }
  process.lastEntry = slot->get();
  process.lastKey = key;
  process.lastKind = line.kind;
  return slot->get();
}

bool SeriesStore::reserve(Entry* entry, SeriesMask wanted) {
  const SeriesMask added = static_cast<SeriesMask>(wanted & ~entry->reserved);
  if (added == 0) return true;
  const size_t count = countOf(added);
  if (seriesCounted_ + count > maxSeries_) return false;
  seriesCounted_ += count;
  entry->reserved |= added;
  return true;
}

void SeriesStore::forget(Process& process, const MappedLine& line) {
  process.lastEntry = nullptr;
  if (line.kind == MappedLine::Kind::Timing) {
    process.timings.erase(lookupText(line.name.key));
    return;
  }
  const auto found = process.resources.find(lookupText(line.name.key));
  if (line.kind == MappedLine::Kind::Kpi) {
    found->second.kpis.erase(lookupText(line.name.label));
  } else {
    found->second.entry.reset();
  }
  if (!found->second.entry && found->second.kpis.empty()) process.resources.erase(found);
}

bool SeriesStore::stage(const MappedLine& line, uint64_t connection, Clock::time_point now) {
  const SeriesMask wanted = seriesOf(line);
  if (wanted == 0) return true;  // changes no series (a time the host could not measure)
  Process* process = processFor(line.name, wanted, now);
  if (process == nullptr) return false;
  Entry* entry = entryFor(*process, line);
  if (!reserve(entry, wanted)) {
    // A new owner without series is not kept: the limit bounds owners too.
    if (entry->reserved == 0) forget(*process, line);
    return false;
  }
  const uint32_t bit = 1u << line.label;
  if ((entry->stagedLabels & bit) != 0 || process->connection != connection) commit(*process);
  process->connection = connection;
  if (process->staged.empty()) process->activity.burstStarted(now);
  process->activity.arrived(now);
  if (entry->stagedLabels == 0) process->staged.push_back(entry);
  entry->stagedLabels |= bit;
  entry->staged[line.label] = line.values;
  if (!process->inStaging) {
    process->inStaging = true;
    staging_.push_back(process);
  }
  return true;
}

bool SeriesStore::setVersion(const MetricNameView& name, std::string_view version, Clock::time_point now) {
  MappedLine line;
  line.kind = MappedLine::Kind::Version;
  Process* process = processFor(name, seriesOf(line), now);
  if (process == nullptr) return false;
  process->activity.arrived(now);
  if (process->info && process->version == version) return true;
  if (!process->info && seriesCounted_ + 1 > maxSeries_) return false;
  auto entry = makeEntry(*process, SeriesOwner::Info, name, version);
  entry->reserved = entry->present = 1;
  entry->values[0] = 1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (process->info) unlist(*process->info);
    list(*entry);
  }
  if (!process->info) ++seriesCounted_;
  process->info = std::move(entry);
  process->version.assign(version);
  return true;
}

void SeriesStore::commit(Process& process) {
  if (process.staged.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry* entry : process.staged) {
      if (entry->owner == SeriesOwner::Timing) {
        applyTimingInterval(entry->staged.data(), entry->stagedLabels, entry->values);
      } else if (entry->owner == SeriesOwner::Resource) {
        applyResourceInterval(entry->staged.data(), entry->stagedLabels, entry->values);
      } else {
        entry->values[0] = static_cast<double>(entry->staged[0].value);
      }
      entry->present = entry->reserved;
      if (entry->listIndex == kUnlisted) list(*entry);
    }
  }
  for (Entry* entry : process.staged) entry->stagedLabels = 0;
  process.staged.clear();
}

void SeriesStore::commitQuiet(Clock::time_point now, Clock::duration quiet) {
  size_t kept = 0;
  for (Process* process : staging_) {
    if (!process->staged.empty() && now - process->activity.lastArrival() < quiet) {
      staging_[kept++] = process;
      continue;
    }
    commit(*process);
    process->inStaging = false;
  }
  staging_.resize(kept);
}

void SeriesStore::commitAll() { commitQuiet(Clock::time_point::max(), Clock::duration::zero()); }

void SeriesStore::list(Entry& entry) {
  entry.listIndex = listed_.size();
  listed_.push_back(&entry);
}

void SeriesStore::unlist(Entry& entry) {
  if (entry.listIndex == kUnlisted) return;
  Entry* last = listed_.back();
  listed_[entry.listIndex] = last;
  last->listIndex = entry.listIndex;
  listed_.pop_back();
  entry.listIndex = kUnlisted;
}

void SeriesStore::drop(Process& process) {
  std::vector<Entry*> entries;
  for (auto& [key, entry] : process.timings) entries.push_back(entry.get());
  for (auto& [key, resource] : process.resources) {
    if (resource.entry) entries.push_back(resource.entry.get());
    for (auto& [kpi, entry] : resource.kpis) entries.push_back(entry.get());
  }
  if (process.info) entries.push_back(process.info.get());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry* entry : entries) unlist(*entry);
  }
  for (Entry* entry : entries) seriesCounted_ -= countOf(entry->reserved);
}

size_t SeriesStore::expire(Clock::time_point now, unsigned intervals) {
  size_t expired = 0;
  for (auto it = processes_.begin(); it != processes_.end();) {
    Process& process = *it->second;
    if (now < process.activity.expiresAt(intervals)) {
      ++it;
      continue;
    }
    if (process.inStaging) staging_.erase(std::find(staging_.begin(), staging_.end(), &process));
    drop(process);
    if (lastProcess_ == &process) lastProcess_ = nullptr;
    it = processes_.erase(it);
    ++expired;
  }
  return expired;
}

SeriesStore::Snapshot SeriesStore::snapshot() const {
  Snapshot out;
  std::lock_guard<std::mutex> lock(mutex_);
  out.items.reserve(listed_.size());
  for (const Entry* entry : listed_) {
    out.items.push_back(Item{entry->labels, entry->owner, entry->present, entry->values});
    out.series += countOf(entry->present);
  }
  return out;
}

}  // namespace moxcollect
