# What a first build costs on two cores. Full debug info (-g) was half of it: HttpServer.cpp
# (Boost.Beast, asio, OpenSSL) compiles in 116 s at -O2 -g and in 57 s at -O2 -g1, a batch of
# the handler's tests in 48 s and 32 s. Level 1 keeps the line tables, so a backtrace, gdb's
# `bt` and perf still name file and line; FM_DEBUG_LEVEL=2 (or the debug preset) adds the
# variables and types for stepping through. The Debian packages are stripped either way.
set(FM_DEBUG_LEVEL 1 CACHE STRING "Debug info of a RelWithDebInfo build: -g<level> (1 or 2)")
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options("$<$<CONFIG:RelWithDebInfo>:-g${FM_DEBUG_LEVEL}>")
endif()

# The test programs' own code is compiled without optimisation: the handler's tests compile in
# half the time at -O0, and what they test, the libraries, is compiled as it ships. Their
# run time is the libraries', not theirs. FM_OPTIMIZE_TESTS=ON compiles them as the libraries.
option(FM_OPTIMIZE_TESTS "Compile the test programs with the build's optimisation" OFF)

# Compiling a target's sources in batches of FM_UNITY_BATCH_SIZE parses the headers they
# share (the standard library, fmt, gtest, Boost, Qt) once per batch instead of once per file.
# A file that cannot share a batch says so with SKIP_UNITY_BUILD_INCLUSION. clang-tidy needs a
# command per file: scripts/lint.sh configures a build folder of its own without batches.
option(FM_UNITY_BUILD "Compile each target's sources in batches" ON)
set(FM_UNITY_BATCH_SIZE 8 CACHE STRING "Sources per batch of a unity build")
if(FM_UNITY_BUILD)
  set(CMAKE_UNITY_BUILD ON)
  set(CMAKE_UNITY_BUILD_BATCH_SIZE ${FM_UNITY_BATCH_SIZE})
  # GCC takes a .cpp included into a batch for a header, and a class of it holding a type of
  # its file-local namespace for one that every includer would see differently: in a batch
  # only that batch includes it, so the warning says nothing true.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-subobject-linkage)
  endif()
endif()

# The linker: FM_LINKER names one (mold, lld, gold, bfd); empty takes the fastest installed,
# mold, then lld, else the compiler's own. GNU ld's links took 430 s of a first build's
# 2,750 s of compiling and linking (summed over both cores); mold's links of the same
# programs take about 65 s.
set(FM_LINKER "" CACHE STRING "Linker passed to -fuse-ld= (empty: mold, then lld, if installed)")
include(CheckLinkerFlag)
if(FM_LINKER)
  set(fm_linkers ${FM_LINKER})
else()
  set(fm_linkers mold lld)
endif()
foreach(fm_linker IN LISTS fm_linkers)
  string(MAKE_C_IDENTIFIER "FM_LINKER_${fm_linker}_WORKS" fm_linker_var)
  check_linker_flag(CXX "-fuse-ld=${fm_linker}" ${fm_linker_var})
  if(${fm_linker_var})
    add_link_options("-fuse-ld=${fm_linker}")
    message(STATUS "Linker: ${fm_linker}")
    break()
  elseif(FM_LINKER)
    message(FATAL_ERROR "FM_LINKER=${FM_LINKER}: the compiler cannot link with it")
  endif()
endforeach()
