// Answers about a passport string the host passes itself, without a
// context: its trace level, the passport to hand on, its elements. Each
// reads the string as an end-to-end passport (ParseE2EPassport) and deletes
// the passport before it returns; a string that is not one has no answer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The trace level of the passport; 0 when text is not a passport.
uint16_t traceLevelOfPassport(std::u16string_view text);

// The passport to hand on: text's passport with a new GUID as connection id,
// counter 0 and previousComponentName (BuildOutgoingPassport); out is empty
// when it cannot be written. false when text is not a passport.
bool outgoingPassportOf(std::u16string_view text, std::u16string_view previousComponentName, std::u16string& out);

// Element 1 the transaction id; 2 and 3 the hexadecimal root context and
// connection ids (version 3, else empty); 4 the connection counter as "%d"
// (version 3, else "0"). false when text is not a passport.
bool passportElementOf(std::u16string_view text, uint16_t element, std::u16string& out);
