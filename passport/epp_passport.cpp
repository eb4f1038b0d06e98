// Creating, deleting and choosing the default passport.
#include <new>

#include "passport/epp_access.h"
#include "passport/epp_env.h"
#include "passport/epp_varpart.h"

namespace {

int32_t creationFailed(const char* op) {
  EPP_TRACE(1, "%s: could not create passport instance\n", op);
  return EPP_FAILED;
}

}  // namespace

int32_t eppInit(EppHandle* out) {
  if (!eppInitialised()) return eppNotInitialised();
  EPP_TRACE(2, "%s: creating new passport instance\n", __func__);
  if (out == nullptr) {
    EPP_TRACE(1, "%s: passport handle not valid\n", __func__);
    return EPP_INVALID;
  }
  *out = nullptr;
  EppEnvironment& env = eppEnv();
  const EppAllocFunc alloc = env.allocFunc.load(std::memory_order_relaxed);
  const EppFreeFunc release = env.freeFunc.load(std::memory_order_relaxed);
  void* block = alloc(sizeof(EppPassport));
  if (block == nullptr) {
    EPP_TRACE(1, "%s: allocation failed\n", __func__);
    return creationFailed(__func__);
  }
  EppPassport* passport = new (block) EppPassport();
  if (ThrRecMtxInit(&passport->lock, u"EPPLIB") != THR_OK) {
    EPP_TRACE(1, "%s: unable to initialize mutex\n", __func__);
    passport->~EppPassport();
    release(block);
    return creationFailed(__func__);
  }
  passport->version = env.defaultVersion.load(std::memory_order_relaxed);
  passport->component = env.defaultComponent.load(std::memory_order_relaxed);
  passport->alloc = alloc;
  passport->release = release;
  EppPassport* none = nullptr;
  env.defaultPassport.compare_exchange_strong(none, passport, std::memory_order_acq_rel);
  EPP_TRACE(3, "%s: created passport %p\n", __func__, static_cast<void*>(passport));
  *out = passport;
  return EPP_OK;
}

int32_t eppDelete(EppHandle handle) {
  if (!eppInitialised()) return eppNotInitialised();
  EPP_TRACE(2, "%s: deleting passport instance %p\n", __func__, static_cast<void*>(handle));
  EppAccess passport(__func__, handle);
  if (int32_t rc = passport.open()) return rc;
  eppFreeVarParts(*handle);
  // A stale handle to this memory, while it is not reused, is refused.
  handle->eyecatcher[0] = 0;
  passport.unlock();
  // With the default gone, the next new passport becomes the default.
  EppHandle expected = handle;
  eppEnv().defaultPassport.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
  ThrRecMtxDelete(&handle->lock);
  const EppFreeFunc release = handle->release;
  handle->~EppPassport();
  release(handle);
  return EPP_OK;
}

int32_t eppSetDefault(EppHandle handle) {
  if (!eppInitialised()) return eppNotInitialised();
  EPP_TRACE(2, "%s: setting %p as default passport\n", __func__, static_cast<void*>(handle));
  EppAccess passport(__func__, handle);
  if (int32_t rc = passport.open()) {
    EPP_TRACE(1, "%s: setting new default passport failed\n", __func__);
    return rc;
  }
  eppEnv().defaultPassport.store(handle, std::memory_order_release);
  return EPP_OK;
}
