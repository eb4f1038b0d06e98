// The common checks of every operation on one passport handle, and the
// passport's lock held for the operation's work.
//
//   EppAccess passport(__func__, handle);
//   if (int32_t rc = passport.open(3)) return rc;   // valid, locked, version 3
//   passport->connectionCounter = counter;
//
// open() checks that the handle is not null and that the record starts with
// "*TH*" (7), takes the lock (8, "mutex lock failure"), checks the occupied
// variable-part slots (7) and the version the operation needs (4). The lock
// is taken before the variable parts and the version are read, so that the
// checks never race with a writer; callers see the same codes in the same
// order as without. The destructor releases the lock if open() took it.
#pragma once

#include <cstdint>

#include "passport/epp_record.h"

class EppAccess {
 public:
  EppAccess(const char* op, EppHandle handle) : op_(op), passport_(handle) {}
  ~EppAccess() { unlock(); }
  EppAccess(const EppAccess&) = delete;
  EppAccess& operator=(const EppAccess&) = delete;

  // EPP_OK, or the code of the first failing check (traced).
  int32_t open(uint8_t neededVersion = 1);
  // Releases the lock early (eppDelete destroys it afterwards).
  void unlock();

  EppPassport* operator->() const { return passport_; }
  EppPassport* get() const { return passport_; }
  const char* op() const { return op_; }

 private:
  enum class Why { Null, CorePart, VarPart };
  int32_t invalid(Why why);

  const char* op_;
  EppPassport* passport_;
  bool locked_ = false;
};
