# fm_embed_text(<target> <symbol> <file>): compiles <file> into <target> as
# `extern const char* const <symbol>`, so the executables carry their SQL and need no
# data folder beside them at run time.
function(fm_embed_text target symbol file)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/embedded_${symbol}.cpp")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -DIN=${file} -DOUT=${out} -DSYMBOL=${symbol}
            -P "${PROJECT_SOURCE_DIR}/cmake/EmbedTextScript.cmake"
    DEPENDS "${file}" "${PROJECT_SOURCE_DIR}/cmake/EmbedTextScript.cmake"
    VERBATIM)
  # Every embedded file defines the same file-local array: each is compiled on its own.
  set_source_files_properties("${out}" PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  target_sources(${target} PRIVATE "${out}")
endfunction()
