// The passport cores of a context: the passport it hands on, its passport
// elements and its trace GUID, as the exports of the caller's context return
// them; and the configuration that passport detection reads.
//
// Like every use of a context, these run on the host thread of its session
// key while the caller holds the context (ContextRef).
#pragma once

#include <cstdint>
#include <string>

#include "mox/config/configuration.h"
#include "mox/context/context.h"
#include "mox/context/passport_detection.h"

// The detection settings of cfg.
PassportSettings passportSettingsFromConfiguration(const CConfiguration& cfg);

// The registry's system_name "-" its process name "-" the host name, cut to 32 characters.
std::u16string currentPreviousComponentName(const CMTContextManager& registry);

// Empty unless the context is traced. The context's passport (created here
// when it has none, and kept) with the context's connection id (a GUID made
// on first use, then kept for its life) and its next counter (0, 1, ...).
std::u16string contextOutgoingPassport(CMTContext& context);

// passportElementText of the context's elements.
std::u16string contextPassportElement(const CMTContext& context, uint16_t element);

// The context's trace GUID.
const std::u16string& contextGuid(const CMTContext& context);
