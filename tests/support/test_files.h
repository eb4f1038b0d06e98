// Small helpers shared by the unit tests: a temporary directory, whole-file
// reading, substring counting and polling a condition with a deadline.
#pragma once

#include <fcntl.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace testsupport {

class TempDir {
 public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "mox_test_XXXXXX").string()) {
    if (mkdtemp(path_.data()) == nullptr) path_ = "/tmp";
  }
  ~TempDir() {
    std::error_code ignored;
    if (path_ != "/tmp") std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::u16string path16() const { return std::u16string(path_.begin(), path_.end()); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string readFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

inline size_t countOf(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++n;
  return n;
}

// Polls instead of sleeping a fixed time.
template <typename Pred>
bool waitUntil(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Number of open file descriptors of this process.
inline int openDescriptors() {
  int n = 0;
  for (int fd = 0; fd < 4096; ++fd) n += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
  return n;
}

}  // namespace testsupport
