#include "raw_file_sink.h"

#include <algorithm>

namespace moxcollect {

namespace {

constexpr size_t kMaxPartBytes = 100;

std::string safePart(const std::string& text) {
  std::string out = text.substr(0, kMaxPartBytes);
  for (char& c : out) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '_' || c == '-' || c == '+' || c == '@';
    if (!plain) c = '_';
  }
  if (!out.empty() && out[0] == '.') out[0] = '_';
  return out;
}

}  // namespace

std::string rawFileName(const Identity& identity, const std::string& peerHost) {
  if (!identity.known()) return "unknown_" + safePart(peerHost) + "_mtdata.log";
  std::string name = safePart(identity.process.empty() ? identity.system : identity.process);
  if (!identity.instance.empty()) name += "_" + safePart(identity.instance);
  return name + "_mtdata.log";
}

RawFileSink::RawFileSink(std::string directory, Log& log, size_t maxFiles, size_t maxOpenFiles)
    : directory_(std::move(directory)),
      log_(log),
      maxFiles_(std::max<size_t>(maxFiles, 1)),
      maxOpenFiles_(std::max<size_t>(maxOpenFiles, 1)) {}

std::string RawFileSink::nameFor(const Record& record) {
  std::string name = rawFileName(record.identity, record.peerHost);
  if (written_.count(name) != 0) return name;
  if (written_.size() >= maxFiles_) {
    ++overflow_;
    return kOverflowName;
  }
  written_.insert(name);
  return name;
}

std::ofstream* RawFileSink::fileFor(const std::string& name) {
  const auto found = byName_.find(name);
  if (found != byName_.end()) {
    open_.splice(open_.begin(), open_, found->second);
    return open_.front().stream.get();
  }
  if (open_.size() >= maxOpenFiles_) close(std::prev(open_.end()));
  auto stream = std::make_unique<std::ofstream>(directory_ + "/" + name, std::ios::binary | std::ios::app);
  if (!stream->is_open()) return nullptr;
  open_.push_front(OpenFile{name, std::move(stream)});
  byName_[name] = open_.begin();
  return open_.front().stream.get();
}

void RawFileSink::close(std::list<OpenFile>::iterator file) {
  if (last_.file == file->stream.get()) last_.file = nullptr;
  file->stream->close();
  check(*file->stream, file->name);
  byName_.erase(file->name);
  open_.erase(file);
}

void RawFileSink::check(const std::ofstream& file, const std::string& name) {
  if (file.good() || failed_) return;
  failed_ = true;
  log_.line("cannot write " + directory_ + "/" + name);
}

bool RawFileSink::sameTarget(const Record& record) const {
  if (last_.file == nullptr || record.identity != last_.identity) return false;
  return record.identity.known() || record.peerHost == last_.peerHost;
}

void RawFileSink::write(const Record& record) {
  if (failed_) return;
  if (sameTarget(record)) {
    if (last_.overflow) ++overflow_;
  } else {
    std::string name = nameFor(record);
    std::ofstream* file = fileFor(name);
    if (file == nullptr) {
      failed_ = true;
      log_.line("cannot write " + directory_ + "/" + name);
      return;
    }
    last_.file = file;
    last_.name = std::move(name);
    last_.overflow = last_.name == kOverflowName;
    last_.identity = record.identity;
    last_.peerHost = record.peerHost;
  }
  std::ofstream& file = *last_.file;
  file.write(record.raw.data(), static_cast<std::streamsize>(record.raw.size()));
  file.put('\n');
  check(file, last_.name);
}

void RawFileSink::flush() {
  for (OpenFile& file : open_) {
    file.stream->flush();
    check(*file.stream, file.name);
  }
}

}  // namespace moxcollect
