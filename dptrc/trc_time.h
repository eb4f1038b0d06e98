// Time texts of the trace facility.
#pragma once

#include <ctime>
#include <string>

// Current time in whole seconds, from the wall clock or the test hook.
time_t trcNowSeconds();
// Appends the 24-character local time text "Www Mmm dd hh:mm:ss yyyy" (day
// of month space-padded); false, with nothing appended, when the time cannot
// be converted or its year has not four digits.
bool trcAppendAscTime(time_t seconds, std::u16string& out);
