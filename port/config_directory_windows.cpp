#include <windows.h>

#include "port/config_directory.h"

std::u16string portDefaultConfigDirectory() {
  wchar_t data[MAX_PATH];
  const DWORD chars = GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  std::u16string dir = u"C:\\ProgramData";
  if (chars > 0 && chars < MAX_PATH) dir.assign(reinterpret_cast<const char16_t*>(data), chars);
  return dir + u"\\vel\\mox\\config";
}
