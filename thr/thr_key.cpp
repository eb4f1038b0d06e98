// Thread-local keys over pthread keys, with the list of keys and their
// destructors that ThrExit runs. The destructors are not registered with
// pthread: they run only at ThrExit, and a host thread ending after the
// library was unloaded must not call into it.
#include <vector>

#include "thr/thr_internal.h"
#include "thr/thr_static_mutex.h"

namespace {

struct KeyRecord {
  ThrKey* key;
  ThrKeyDestructor dtor;
};

// Recursive: a destructor run by ThrExit may itself use keys.
ThrStaticMutex g_keyListLock{ThrStaticMutex::Recursive{}};
std::vector<KeyRecord>* g_keys GUARDED_BY(g_keyListLock) = nullptr;

}  // namespace

void thrRenewKeyListLock() { g_keyListLock.renew(); }

namespace {

int addRecord(ThrKey* key, ThrKeyDestructor dtor) REQUIRES(g_keyListLock) {
  try {
    if (g_keys == nullptr) g_keys = new std::vector<KeyRecord>();
    g_keys->push_back(KeyRecord{key, dtor});
    return THR_OK;
  } catch (...) {
    return THR_NO_MEMORY;
  }
}

void removeRecord(ThrKey* key) REQUIRES(g_keyListLock) {
  if (g_keys == nullptr) return;
  for (auto it = g_keys->begin(); it != g_keys->end(); ++it) {
    if (it->key == key) {
      g_keys->erase(it);
      return;
    }
  }
}

// The key's slot, created on demand; THR_KEY_NONE when that failed.
uint32_t slotOf(ThrKey* key) {
  uint32_t slot = key->slot.load(std::memory_order_acquire);
  if (slot == THR_KEY_NONE) {
    ThrKeyCreate(key, nullptr);  // losing a creation race is fine: THR_KEY_EXISTS
    slot = key->slot.load(std::memory_order_acquire);
  }
  return slot;
}

}  // namespace

int ThrKeyCreate(ThrKey* key, ThrKeyDestructor dtor) {
  if (key == nullptr) return THR_CREATE_FAILED;
  ThrStaticMutexHold guard(g_keyListLock);
  if (key->slot.load(std::memory_order_acquire) != THR_KEY_NONE) return THR_KEY_EXISTS;
  pthread_key_t slot;
  if (pthread_key_create(&slot, nullptr) != 0) return THR_CREATE_FAILED;
  const int status = addRecord(key, dtor);
  if (status != THR_OK) {
    pthread_key_delete(slot);
    return status;
  }
  key->slot.store(static_cast<uint32_t>(slot), std::memory_order_release);
  return THR_OK;
}

int ThrKeyDelete(ThrKey* key) {
  if (key == nullptr) return THR_KEY_NOT_CREATED;
  ThrStaticMutexHold guard(g_keyListLock);
  const uint32_t slot = key->slot.load(std::memory_order_acquire);
  if (slot == THR_KEY_NONE) return THR_KEY_NOT_CREATED;
  if (pthread_key_delete(static_cast<pthread_key_t>(slot)) != 0) return THR_KEY_SLOT_FAILED;
  removeRecord(key);
  key->slot.store(THR_KEY_NONE, std::memory_order_release);
  return THR_OK;
}

int ThrKeyVarSet(ThrKey* key, void* value) {
  if (key == nullptr) return THR_KEY_SLOT_FAILED;
  const uint32_t slot = slotOf(key);
  if (slot == THR_KEY_NONE) return THR_KEY_SLOT_FAILED;
  return pthread_setspecific(static_cast<pthread_key_t>(slot), value) == 0 ? THR_OK : THR_KEY_SLOT_FAILED;
}

void* ThrKeyVarGet(ThrKey* key) {
  if (key == nullptr) return nullptr;
  const uint32_t slot = slotOf(key);
  if (slot == THR_KEY_NONE) return nullptr;
  return pthread_getspecific(static_cast<pthread_key_t>(slot));
}

void thrRunKeyDestructors() {
  ThrStaticMutexHold guard(g_keyListLock);
  // By index, re-reading the list each step: a destructor may create or
  // delete keys.
  for (size_t i = 0; g_keys != nullptr && i < g_keys->size(); ++i) {
    const KeyRecord rec = (*g_keys)[i];
    if (rec.dtor == nullptr) continue;
    const uint32_t slot = rec.key->slot.load(std::memory_order_acquire);
    if (slot == THR_KEY_NONE) continue;
    const auto pslot = static_cast<pthread_key_t>(slot);
    void* old = pthread_getspecific(pslot);
    pthread_setspecific(pslot, nullptr);
    rec.dtor(old);
  }
}
