// Where the agents learn the process name that names their files.
//
// The registry that keeps the process identity sits above the agents, so the
// lifecycle hands the agents a plain function to ask instead.
#pragma once

#include <string>

using ProcessNameSource = std::u16string (*)();

// Any thread may set or read the source at any time (atomic); nullptr unsets it.
void setProcessNameSource(ProcessNameSource source);
// The name the source gives, or "" when no source is set.
std::u16string currentProcessName();
