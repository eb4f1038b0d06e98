#include "output_files.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace {

// The file's modification time; -1 when it does not exist.
std::time_t modified(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

}  // namespace

std::string fileWrittenSince(const std::string& logdir, const std::string& name, std::time_t since) {
  const std::string inLogdir = logdir.empty() ? name : logdir + "/" + name;
  const std::string inWorkingDir = "./" + name;
  // File times may lag the clock by a tick: a second of slack.
  const std::time_t first = modified(inLogdir), second = modified(inWorkingDir);
  if (first >= since - 1 && first >= second) return inLogdir;
  if (second >= since - 1) return inWorkingDir;
  return std::string();
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
