// Name buffer entries with expiry.
#include "ni/ni_name_buffer.h"

#include <atomic>
#include <chrono>
#include <map>
#include <utility>

#include "thr/thr.h"

namespace {

struct Entry {
  bool resolved;
  NiHostAddr addr;
  int64_t expires;  // seconds on the buffer clock
};

using Key = std::pair<std::string, bool>;

struct Buffer {
  Buffer() { ThrRecMtxInit(&mutex, u"NI param section"); }
  ThrRecMtx mutex;
  std::map<Key, Entry> entries GUARDED_BY(mutex);
};

Buffer& buffer() {
  static Buffer* instance = new Buffer();  // lives as long as the process
  return *instance;
}

std::atomic<NiSecondsClock> clockHook{nullptr};

int64_t nowSeconds() {
  if (NiSecondsClock hook = clockHook.load(std::memory_order_acquire)) return hook();
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void niNameBufferRenewLock() { ThrRecMtxInit(&buffer().mutex, u"NI param section"); }

namespace {

class SCOPED_CAPABILITY BufferLock {
 public:
  explicit BufferLock(Buffer& b) ACQUIRE(b.mutex) : b_(b) { ThrRecMtxLock(&b.mutex); }
  ~BufferLock() RELEASE() { ThrRecMtxUnlock(&b_.mutex); }
  BufferLock(const BufferLock&) = delete;
  BufferLock& operator=(const BufferLock&) = delete;

 private:
  Buffer& b_;
};

void dropExpired(std::map<Key, Entry>& entries, int64_t now) {
  for (auto it = entries.begin(); it != entries.end();) {
    it = it->second.expires <= now ? entries.erase(it) : std::next(it);
  }
}

}  // namespace

NiBuffered niNameBufferFind(const std::string& name, bool ipv6, NiHostAddr* addr) {
  Buffer& b = buffer();
  BufferLock lock(b);
  auto it = b.entries.find(Key(name, ipv6));
  if (it == b.entries.end()) return NiBuffered::none;
  if (it->second.expires <= nowSeconds()) {
    b.entries.erase(it);
    return NiBuffered::none;
  }
  if (!it->second.resolved) return NiBuffered::failed;
  *addr = it->second.addr;
  return NiBuffered::resolved;
}

void niNameBufferStore(const std::string& name, bool ipv6, bool resolved, const NiHostAddr& addr) {
  Buffer& b = buffer();
  BufferLock lock(b);
  const int64_t now = nowSeconds();
  if (b.entries.size() >= kNameBufferMaxEntries) dropExpired(b.entries, now);
  if (b.entries.size() >= kNameBufferMaxEntries) b.entries.clear();  // bounded, whatever the names
  const int64_t life = resolved ? kNameBufferHitSeconds : kNameBufferMissSeconds;
  b.entries[Key(name, ipv6)] = Entry{resolved, addr, now + life};
}

void NiISetNameBufferClock(NiSecondsClock clock) { clockHook.store(clock, std::memory_order_release); }
