// Seams for the passport handling, which comes with a later change.
//
// createGuid: a new GUID text (32 upper-case hexadecimal digits); asked for
// lazily, the first time a context's trace GUID is read.
// detectPassport: sets a context's passport fields, trace switch and trace
// threshold from its passport; atCreation is false on re-initialisation. Not
// set: the context decides from the configuration alone (tracing via the EM
// switch, otherwise off).
#pragma once

#include <atomic>
#include <string>

class CMTContext;

using GuidSource = std::u16string (*)();
using PassportDetector = void (*)(CMTContext& context, const std::u16string& passport, bool atCreation);

namespace passporthooks {
extern std::atomic<GuidSource> createGuid;
extern std::atomic<PassportDetector> detectPassport;
}  // namespace passporthooks
