#include "passport/epp_access.h"

#include "passport/epp_env.h"

int32_t EppAccess::invalid(Why why) {
  if (why == Why::CorePart) EPP_TRACE(1, "%s: core part eyecatcher invalid\n", op_);
  if (why == Why::VarPart) EPP_TRACE(1, "%s: variable part eyecatcher invalid\n", op_);
  EPP_TRACE(1, "%s: passport handle not valid\n", op_);
  return EPP_INVALID;
}

// open() and unlock() hold the lock across calls, as locked_ records: the
// lock analysis cannot follow a lock that outlives a function.
int32_t EppAccess::open(uint8_t neededVersion) NO_THREAD_SAFETY_ANALYSIS {
  EPP_TRACE(3, "%s: checking passport %p for validity\n", op_, static_cast<void*>(passport_));
  if (passport_ == nullptr) return invalid(Why::Null);
  if (!eppHasEyecatcher(passport_->eyecatcher)) return invalid(Why::CorePart);
  if (ThrRecMtxLock(&passport_->lock) != THR_OK) {
    EPP_TRACE(1, "mutex lock failure\n");
    return EPP_FAILED;
  }
  locked_ = true;
  for (const EppVarPart* part : passport_->varParts) {
    if (part != nullptr && !eppHasEyecatcher(part->eyecatcher)) {
      return invalid(Why::VarPart);
    }
  }
  if (passport_->version < neededVersion) {
    EPP_TRACE(2, "%s: this field can only be set for passports with version %u or higher\n", op_,
              static_cast<unsigned>(neededVersion));
    return EPP_VERSION_TOO_LOW;
  }
  return EPP_OK;
}

void EppAccess::unlock() NO_THREAD_SAFETY_ANALYSIS {
  if (locked_) ThrRecMtxUnlock(&passport_->lock);
  locked_ = false;
}
