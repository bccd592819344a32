# Project warnings as an interface target, linked privately by every target of ours,
# so third-party headers keep their own flags.
add_library(fm_warnings INTERFACE)
add_library(fm::warnings ALIAS fm_warnings)
target_compile_options(fm_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
if(FM_WARNINGS_AS_ERRORS)
  target_compile_options(fm_warnings INTERFACE -Werror)
endif()
