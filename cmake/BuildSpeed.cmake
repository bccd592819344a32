# What a first build costs on two cores. Measured on HttpServer.cpp (Boost.Beast, asio and
# OpenSSL): at -O2 -g the assembler and the writer of a 162 MB object took half its two
# minutes; with the debug info in a .dwo file beside the object it takes 55 s, and neither
# the linker nor ccache has to copy that debug info again. gdb reads the .dwo files where the
# build left them; the Debian packages are stripped and never held them.
option(FM_SPLIT_DWARF "Write debug info to .dwo files beside the objects (faster builds and links)" ON)
if(FM_SPLIT_DWARF AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options("$<$<CONFIG:Debug,RelWithDebInfo>:-gsplit-dwarf>")
endif()

# Compiling a target's sources in batches of FM_UNITY_BATCH_SIZE parses the headers they
# share (the standard library, fmt, gtest, Boost, Qt) once per batch instead of once per file.
# A file that cannot share a batch says so with SKIP_UNITY_BUILD_INCLUSION. clang-tidy needs a
# command per file: scripts/lint.sh configures a build folder of its own without batches.
option(FM_UNITY_BUILD "Compile each target's sources in batches" ON)
set(FM_UNITY_BATCH_SIZE 8 CACHE STRING "Sources per batch of a unity build")
if(FM_UNITY_BUILD)
  set(CMAKE_UNITY_BUILD ON)
  set(CMAKE_UNITY_BUILD_BATCH_SIZE ${FM_UNITY_BATCH_SIZE})
endif()

# The linker: FM_LINKER names one (mold, lld, gold, bfd); empty takes the fastest installed,
# mold, then lld, else the compiler's own. Linking the test programs and the server with GNU
# ld was a third of the time after the last compile.
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
