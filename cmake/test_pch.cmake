# GoogleTest's header costs more compile time than most test files themselves, in every test file of
# every build (plain and sanitized): it is precompiled once and shared by every test target.
# GCC checks a precompiled header against each compile's options and falls back to the plain
# header when they differ, so sharing is safe there; other compilers get one per target.
option(MOX_TEST_PCH "Precompile GoogleTest's header for the tests" ON)

function(mox_precompile_test_header)
  if(NOT MOX_TEST_PCH)
    return()
  endif()
  set(owner "")
  foreach(target IN LISTS ARGN)
    get_target_property(sources ${target} SOURCES)
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    if(NOT sources)
      continue()  # a C program has no use for it
    endif()
    if(owner AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_precompile_headers(${target} REUSE_FROM ${owner})
    else()
      target_precompile_headers(${target} PRIVATE <gtest/gtest.h>)
      set(owner ${target})
    endif()
  endforeach()
endfunction()
