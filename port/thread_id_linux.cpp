#include <sys/syscall.h>
#include <unistd.h>

#include "port/thread_id.h"

uint32_t portCurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
