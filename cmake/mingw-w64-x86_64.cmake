# Cross-building mox.dll on Linux with the posix flavour of mingw-w64
# (Debian: g++-mingw-w64-x86-64-posix). The C++ runtime, libgcc and
# winpthread are linked in statically, so the DLL and the programs need only
# the system's DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MOX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MOX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MOX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MOX_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${MOX_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${MOX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine (Debian keeps wine64 in /usr/lib/wine).
find_program(MOX_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(MOX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MOX_WINE})
endif()
