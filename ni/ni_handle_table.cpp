// Handle table entries, their hand-out with the reuse counter, and the
// deferred close of a socket still in use.
#include "ni/ni_handle_table.h"

#include <atomic>
#include <new>

#include "dptrc/dptrc.h"
#include "ni/ni_internal.h"
#include "si/si.h"
#include "thr/thr.h"

namespace {

constexpr int kReuseBits = 3;
constexpr int kReuseMask = (1 << kReuseBits) - 1;
constexpr uint8_t kFirstValidState = 16;

struct Entry {
  uint8_t state = NI_FREE;
  NI_HDL hdl = NI_INVALID_HDL;  // the number handed out; invalid while free
  uint8_t reuse = kReuseMask;   // the first hand-out makes it 0
  int sock = -1;
  int users = 0;                 // operations working on sock outside the lock
  bool closeWhenUnused = false;  // closed while in use: the last user closes sock
  NiHostAddr addr{};
  uint16_t port = 0;
};

struct Table {
  ThrRecMtx mutex;
  Entry entries[NI_HDL_TABLE_SIZE] GUARDED_BY(mutex);
};

// Set once by the first NiInit3; read by every operation.
std::atomic<Table*> tableInstance{nullptr};

Table* tableOrNull() { return tableInstance.load(std::memory_order_acquire); }

// Call only once the table exists.
class SCOPED_CAPABILITY TableLock {
 public:
  TableLock() ACQUIRE(table_->mutex) : table_(tableOrNull()) { ThrRecMtxLock(&table_->mutex); }
  ~TableLock() RELEASE() { ThrRecMtxUnlock(&table_->mutex); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;
  // A TableLock holds the mutex for its whole life, and entries are reached
  // only through one; the analysis cannot tie the object to its table.
  Entry& entry(int index) NO_THREAD_SAFETY_ANALYSIS { return table_->entries[index]; }

 private:
  Table* table_;
};

// The entry that hdl names, if hdl is a handle handed out and not closed.
// Call with the lock held.
Entry* validEntry(TableLock& lock, NI_HDL hdl) {
  if (hdl < 0 || hdl / (kReuseMask + 1) >= NI_HDL_TABLE_SIZE) return nullptr;
  Entry& e = lock.entry(hdl / (kReuseMask + 1));
  if (e.state < kFirstValidState && e.state != NI_INITIAL_CON) return nullptr;
  return e.hdl == hdl ? &e : nullptr;
}

// Whether hdl may be used by the caller: NI_INITIAL_CON belongs to its creator only.
bool usable(const Entry* e) { return e != nullptr && e->state >= kFirstValidState; }

void freeEntry(Entry& e) {
  if (e.sock >= 0) SiClose(e.sock);
  e.sock = -1;
  e.state = NI_FREE;
  e.hdl = NI_INVALID_HDL;
  e.users = 0;
  e.closeWhenUnused = false;
}

}  // namespace

// Only the forking thread runs in the child, and the table's mutex is made
// anew: the entries are reset without it.
void niHdlTableForgetInChild() NO_THREAD_SAFETY_ANALYSIS {
  Table* table = tableOrNull();
  if (table == nullptr) return;
  ThrRecMtxInit(&table->mutex, u"NI hdl section");
  for (Entry& e : table->entries) {
    if (e.state != NI_FREE || e.sock >= 0) freeEntry(e);
  }
}

bool niHdlTableInit() {
  if (tableOrNull() != nullptr) return true;
  Table* fresh = new (std::nothrow) Table();
  if (fresh == nullptr) return false;
  if (ThrRecMtxInit(&fresh->mutex, u"NI hdl section") != THR_OK) {
    delete fresh;
    return false;
  }
  tableInstance.store(fresh, std::memory_order_release);  // kept for good: nothing ends the layer
  niRegisterForkHandler();
  return true;
}

int niHdlAlloc(NI_HDL* hdl) {
  *hdl = NI_INVALID_HDL;
  if (tableOrNull() == nullptr) return NIEINTERN;
  TableLock lock;
  for (int index = 0; index < NI_HDL_TABLE_SIZE; ++index) {
    Entry& e = lock.entry(index);
    if (e.state != NI_FREE || e.users != 0) continue;
    e.reuse = static_cast<uint8_t>((e.reuse + 1) & kReuseMask);
    e.hdl = index * (kReuseMask + 1) + e.reuse;
    e.state = NI_INITIAL_CON;
    e.users = 1;
    *hdl = e.hdl;
    return VEL_O_K;
  }
  return NIEINTERN;
}

void niHdlAttach(NI_HDL hdl, int sock, const NiHostAddr& addr, uint16_t port) {
  TableLock lock;
  if (Entry* e = validEntry(lock, hdl)) {
    e->sock = sock;
    e->addr = addr;
    e->port = port;
  }
}

void niHdlDiscard(NI_HDL hdl) {
  TableLock lock;
  if (Entry* e = validEntry(lock, hdl)) freeEntry(*e);
}

bool niHdlAcquire(NI_HDL hdl, NiHdlView* view) {
  if (tableOrNull() != nullptr) {
    TableLock lock;
    Entry* e = validEntry(lock, hdl);
    if (usable(e)) {
      ++e->users;
      view->sock = e->sock;
      view->state = e->state;
      return true;
    }
  }
  return false;
}

void niHdlRelease(NI_HDL hdl) {
  TableLock lock;
  Entry& e = lock.entry(hdl / (kReuseMask + 1));
  if (e.users > 0) --e.users;
  if (e.users == 0 && e.closeWhenUnused) freeEntry(e);
}

void niHdlSetState(NI_HDL hdl, uint8_t state) {
  TableLock lock;
  if (Entry* e = validEntry(lock, hdl)) {
    MOX_TRC(2, "NiISetState: hdl %d %s -> %s\n", hdl, NiHdlStateName(e->state), NiHdlStateName(state));
    e->state = state;
  }
}

std::string niHdlPartner(NI_HDL hdl) {
  if (tableOrNull() == nullptr) return std::string();
  TableLock lock;
  Entry* e = validEntry(lock, hdl);
  if (e == nullptr) return std::string();
  return NiAddrToStr(e->addr) + ":" + std::to_string(e->port);
}

bool niHdlClose(const char* func, NI_HDL hdl) {
  if (tableOrNull() != nullptr) {
    TableLock lock;
    Entry* e = validEntry(lock, hdl);
    if (usable(e)) {
      MOX_TRC(2, "%s: shutdown and close hdl %d/sock %d\n", func, hdl, e->sock);
      if (e->sock >= 0) SiShutdown(e->sock);  // wakes an operation waiting on it
      if (e->users == 0) {
        freeEntry(*e);
      } else {
        e->state = NI_FREE;
        e->hdl = NI_INVALID_HDL;
        e->closeWhenUnused = true;
      }
      return true;
    }
  }
  return false;
}

int niHdlInUse() {
  if (tableOrNull() == nullptr) return 0;
  TableLock lock;
  int n = 0;
  for (int index = 0; index < NI_HDL_TABLE_SIZE; ++index) {
    const Entry& e = lock.entry(index);
    n += (e.state != NI_FREE || e.users != 0) ? 1 : 0;
  }
  return n;
}

int NiIHandlesInUse() { return niHdlInUse(); }
