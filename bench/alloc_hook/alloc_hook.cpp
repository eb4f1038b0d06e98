// The allocation hook, a library preloaded (LD_PRELOAD) into the benchmark's
// heap run only: it stands in for malloc and its kin and counts, while a count
// is open, every thread's allocations and the usable bytes they add. Kept out
// of the timing run, where its extra call on every allocation would tax the
// peer, which allocates on every call, more than the library.
#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace {

std::atomic<bool> counting{false};
std::atomic<uint64_t> allocations{0};
std::atomic<int64_t> netBytes{0};

void noteAllocated(void* block) {
  if (block == nullptr || !counting.load(std::memory_order_relaxed)) return;
  allocations.fetch_add(1, std::memory_order_relaxed);
  netBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
}

void noteFreed(void* block) {
  if (block == nullptr || !counting.load(std::memory_order_relaxed)) return;
  netBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
}

}  // namespace

extern "C" {
// glibc's own entry points, under the names it exports them for this use.
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);

// What the benchmark finds with dlsym (alloc_count.h).
void moxBenchStartCounting() {
  allocations.store(0);
  netBytes.store(0);
  counting.store(true);
}

void moxBenchStopCounting(uint64_t* allocated, int64_t* bytes) {
  counting.store(false);
  *allocated = allocations.load();
  *bytes = netBytes.load();
}

void* malloc(size_t size) noexcept {
  void* block = __libc_malloc(size);
  noteAllocated(block);
  return block;
}

void* calloc(size_t count, size_t size) noexcept {
  void* block = __libc_calloc(count, size);
  noteAllocated(block);
  return block;
}

void* realloc(void* block, size_t size) noexcept {
  noteFreed(block);
  void* moved = __libc_realloc(block, size);
  noteAllocated(moved);
  return moved;
}

void free(void* block) noexcept {
  noteFreed(block);
  __libc_free(block);
}

void* memalign(size_t alignment, size_t size) noexcept {
  void* block = __libc_memalign(alignment, size);
  noteAllocated(block);
  return block;
}

void* aligned_alloc(size_t alignment, size_t size) noexcept { return memalign(alignment, size); }

int posix_memalign(void** result, size_t alignment, size_t size) noexcept {
  void* block = memalign(alignment, size);
  if (block == nullptr) return ENOMEM;
  *result = block;
  return 0;
}
}
