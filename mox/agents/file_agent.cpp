#include "mox/agents/file_agent.h"

#include <fstream>

#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "mox/agents/process_name_source.h"
#include "mox/config/configuration.h"

namespace {

constexpr char16_t kFileSuffix[] = u"_mtdata.log";

// Appends bytes to the file (created when missing); false when it cannot be opened.
bool appendToFile(const std::u16string& fileName, const std::string& bytes) {
  std::ofstream out(toNarrowFileName(fileName), std::ios::out | std::ios::app);
  if (!out.is_open()) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();  // a failing close only marks the stream; the caller is not told
  return true;
}

}  // namespace

std::u16string CMTDataSendingFileAgent::primaryFileName() {
  std::u16string name = CConfiguration::getInstance()->getLogdir();
  name += u'/';
  name += currentProcessName();
  name += kFileSuffix;
  return name;
}

std::u16string CMTDataSendingFileAgent::fallbackFileName() {
  return currentProcessName() + kFileSuffix;
}

void CMTDataSendingFileAgent::sendData(std::u16string text) {
  const std::string bytes = utf16ToUtf8Lenient(text);
  const std::u16string primary = primaryFileName();
  if (appendToFile(primary, bytes)) return;

  // The path goes into the trace as text: a '%' in it must not act as a format.
  MOX_TRC_TEXT(1, u"Switch to current working directory due to metric data log file " + primary +
                      u" could not be opened!\n");
  if (appendToFile(fallbackFileName(), bytes)) return;
  MOX_TRC_ERROR("NO candidated metric data log file could be created(even in the current working directory)!\n");
}
