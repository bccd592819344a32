# Every library of a fuzz build is compiled with libFuzzer's coverage and the address and
# undefined-behaviour sanitizers, so a fault deep in a parser is caught where it happens.
# Included before src/ by the top-level CMakeLists.txt when FM_FUZZ is on.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "FM_FUZZ needs clang for libFuzzer; configure with `cmake --preset fuzz` "
                      "(build-fuzz), not in the g++ build")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
