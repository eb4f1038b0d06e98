// Handle table entries, their hand-out with the reuse counter, and the
// deferred close of a socket still in use.
#include "ni/ni_handle_table.h"

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
  int users = 0;                // operations working on sock outside the lock
  bool closeWhenUnused = false; // closed while in use: the last user closes sock
  NiHostAddr addr{};
  uint16_t port = 0;
};

struct Table {
  ThrRecMtx mutex;
  Entry entries[NI_HDL_TABLE_SIZE];
};

Table* table = nullptr;

class TableLock {
 public:
  TableLock() { ThrRecMtxLock(&table->mutex); }
  ~TableLock() { ThrRecMtxUnlock(&table->mutex); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;
};

// The entry that hdl names, if hdl is a handle handed out and not closed.
// Call with the lock held.
Entry* validEntry(NI_HDL hdl) {
  if (table == nullptr || hdl < 0 || hdl / (kReuseMask + 1) >= NI_HDL_TABLE_SIZE) return nullptr;
  Entry& e = table->entries[hdl / (kReuseMask + 1)];
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

bool niHdlTableInit() {
  if (table != nullptr) return true;
  Table* fresh = new (std::nothrow) Table();
  if (fresh == nullptr) return false;
  if (ThrRecMtxInit(&fresh->mutex, u"NI hdl section") != THR_OK) {
    delete fresh;
    return false;
  }
  table = fresh;  // kept for the life of the process: nothing ends the layer
  return true;
}

int niHdlAlloc(NI_HDL* hdl) {
  *hdl = NI_INVALID_HDL;
  if (table == nullptr) return NIEINTERN;
  TableLock lock;
  for (int index = 0; index < NI_HDL_TABLE_SIZE; ++index) {
    Entry& e = table->entries[index];
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
  if (Entry* e = validEntry(hdl)) {
    e->sock = sock;
    e->addr = addr;
    e->port = port;
  }
}

void niHdlDiscard(NI_HDL hdl) {
  TableLock lock;
  if (Entry* e = validEntry(hdl)) freeEntry(*e);
}

bool niHdlAcquire(NI_HDL hdl, NiHdlView* view) {
  if (table != nullptr) {
    TableLock lock;
    Entry* e = validEntry(hdl);
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
  Entry& e = table->entries[hdl / (kReuseMask + 1)];
  if (e.users > 0) --e.users;
  if (e.users == 0 && e.closeWhenUnused) freeEntry(e);
}

void niHdlSetState(NI_HDL hdl, uint8_t state) {
  TableLock lock;
  if (Entry* e = validEntry(hdl)) {
    MOX_TRC(2, "NiISetState: hdl %d %s -> %s\n", hdl, NiHdlStateName(e->state), NiHdlStateName(state));
    e->state = state;
  }
}

std::string niHdlPartner(NI_HDL hdl) {
  if (table == nullptr) return std::string();
  TableLock lock;
  Entry* e = validEntry(hdl);
  if (e == nullptr) return std::string();
  return NiAddrToStr(e->addr) + ":" + std::to_string(e->port);
}

bool niHdlClose(const char* func, NI_HDL hdl) {
  if (table != nullptr) {
    TableLock lock;
    Entry* e = validEntry(hdl);
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
  if (table == nullptr) return 0;
  TableLock lock;
  int n = 0;
  for (const Entry& e : table->entries) n += (e.state != NI_FREE || e.users != 0) ? 1 : 0;
  return n;
}

int NiIHandlesInUse() { return niHdlInUse(); }
