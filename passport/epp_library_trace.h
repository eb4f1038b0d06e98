// The trace function the library hands to eppSetEnvironment: each passport
// library line becomes a plain level-1 line of the library trace file
// (written while the file's level is 1 or more).
#pragma once

void eppTraceToLibraryLog(const char16_t* line);
