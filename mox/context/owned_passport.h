// OwnedPassport: a passport of the passport library with exactly one owner,
// deleted (eppDelete) when the owner lets it go.
#pragma once

#include <memory>

#include "passport/epp.h"

struct EppPassportDeleter {
  void operator()(EppHandle passport) const {
    if (passport != nullptr) eppDelete(passport);
  }
};

using OwnedPassport = std::unique_ptr<EppPassport, EppPassportDeleter>;
