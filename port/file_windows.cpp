// Files on Windows through the C runtime's descriptors, opened by their
// UTF-16 names (the 8-bit names are UTF-8), in binary mode so that a text's
// bytes reach the file unchanged. Files are opened for sharing, so that
// another process may read, rename or delete one that the library holds.
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "port/file.h"

namespace {

bool wideName(const std::string& name, std::wstring& wide) {
  wide.clear();
  if (name.empty()) return true;
  const int size = static_cast<int>(name.size());
  const int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), size, nullptr, 0);
  if (chars <= 0) return false;
  wide.resize(static_cast<size_t>(chars));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), size, wide.data(), chars) == chars;
}

// errno from the system's error of the last call.
void setErrnoFrom(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_DISK_FULL: errno = ENOSPC; break;
    default: errno = EIO; break;
  }
}

int openShared(const std::string& name, DWORD access, DWORD disposition, int crtFlags) {
  std::wstring wide;
  if (!wideName(name, wide) || wide.find(L'\0') != std::wstring::npos) {
    errno = ENOENT;
    return -1;
  }
  HANDLE h = CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    setErrnoFrom(GetLastError());
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), crtFlags | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) CloseHandle(h);
  return fd;
}

}  // namespace

int portOpenForAppend(const std::string& name, bool truncate) {
  const int fd = openShared(name, GENERIC_WRITE, truncate ? CREATE_ALWAYS : OPEN_ALWAYS, _O_APPEND);
  if (fd >= 0 && _lseeki64(fd, 0, SEEK_END) < 0) {
    _close(fd);
    return -1;
  }
  return fd;
}

int portOpenForRead(const std::string& name) { return openShared(name, GENERIC_READ, OPEN_EXISTING, _O_RDONLY); }

bool portFileStatus(int fd, PortFileStatus* status) {
  struct _stat64 info {};
  if (_fstat64(fd, &info) != 0) return false;
  status->regular = (info.st_mode & _S_IFMT) == _S_IFREG;
  status->size = status->regular ? static_cast<uint64_t>(info.st_size) : 0;
  return true;
}

ssize_t portRead(int fd, void* buffer, size_t size) {
  const unsigned int chunk = size > 0x40000000 ? 0x40000000u : static_cast<unsigned int>(size);
  return _read(fd, buffer, chunk);
}

int64_t portFileOffset(int fd) { return _lseeki64(fd, 0, SEEK_CUR); }

bool portTruncateFile(int fd, uint64_t size) { return _chsize_s(fd, static_cast<long long>(size)) == 0; }

int portClose(int fd) { return _close(fd); }

bool portRenameReplacing(const std::string& from, const std::string& to) {
  std::wstring wideFrom, wideTo;
  if (!wideName(from, wideFrom) || !wideName(to, wideTo)) {
    errno = ENOENT;
    return false;
  }
  if (MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  setErrnoFrom(GetLastError());
  return false;
}
