#include "raw_file_sink.h"

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

std::ofstream* RawFileSink::fileFor(const std::string& name) {
  auto found = files_.find(name);
  if (found != files_.end()) return found->second.get();
  if (files_.size() >= kMaxOpenFiles) {
    flush();
    files_.clear();
  }
  auto file = std::make_unique<std::ofstream>(directory_ + "/" + name, std::ios::binary | std::ios::app);
  if (!file->is_open()) return nullptr;
  return files_.emplace(name, std::move(file)).first->second.get();
}

void RawFileSink::write(const Record& record) {
  if (failed_) return;
  const std::string name = rawFileName(record.identity, record.peerHost);
  std::ofstream* file = fileFor(name);
  if (file != nullptr) {
    file->write(record.raw.data(), static_cast<std::streamsize>(record.raw.size()));
    file->put('\n');
  }
  if (file == nullptr || !file->good()) {
    failed_ = true;
    log_ << "mox-collect: cannot write " << directory_ << "/" << name << '\n';
  }
}

void RawFileSink::flush() {
  for (auto& [name, file] : files_) {
    file->flush();
    if (!file->good() && !failed_) {
      failed_ = true;
      log_ << "mox-collect: cannot write " << directory_ << "/" << name << '\n';
    }
  }
}

}  // namespace moxcollect
