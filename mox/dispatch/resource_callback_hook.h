// The data dispatcher's seam for the host's resource callbacks: before each
// data job the dispatcher thread calls the installed hook (none until the
// resources code installs one). Only the dispatcher thread calls it, never
// MOX_outputMetricData or the final flush.
#pragma once

using ResourceCallbackHook = void (*)();

// Thread-safe; nullptr removes the hook.
void setResourceCallbackHook(ResourceCallbackHook hook);
// Calls the hook when one is installed.
void runResourceCallbackHook();
