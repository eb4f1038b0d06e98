// Memory of variable parts and items, shared by the passport's own
// operations. Callers hold the passport's lock.
#pragma once

#include "passport/epp_record.h"

// Frees the part and all its items with the passport's release function.
void eppFreeVarPart(const EppPassport& passport, EppVarPart* part);
// Empties both slots.
void eppFreeVarParts(EppPassport& passport);
