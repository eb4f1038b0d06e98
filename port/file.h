// Files by name, as descriptors. Names are 8-bit text, read as UTF-8 where
// the system's own names are not bytes. Every descriptor opened here is
// not inherited by child processes, and its open does not wait: a FIFO of
// that name without a reader fails to open (ENXIO) rather than hang the
// caller, and one whose reader stops reading fails to take a write.
// Failures return -1 (false) with errno set, as the POSIX calls do.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Opens name for appending, created when missing and emptied first when
// truncate; never becomes the process's controlling terminal.
int portOpenForAppend(const std::string& name, bool truncate);
// Opens name for reading.
int portOpenForRead(const std::string& name);

struct PortFileStatus {
  bool regular = false;  // a regular file (not a directory, device, FIFO)
  uint64_t size = 0;     // its size in bytes when regular
};
bool portFileStatus(int fd, PortFileStatus* status);

// read(2): the bytes read, 0 at the end, -1 on failure.
ssize_t portRead(int fd, void* buffer, size_t size);
// The descriptor's offset, -1 on failure.
int64_t portFileOffset(int fd);
// Cuts (or extends) the file to size bytes.
bool portTruncateFile(int fd, uint64_t size);
// Closes fd, which is gone afterwards whatever the result (never repeat).
int portClose(int fd);

// Renames from to to, replacing a file named to.
bool portRenameReplacing(const std::string& from, const std::string& to);
