file(READ "${IN}" content HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
file(WRITE "${OUT}" "// Generated from ${IN}; do not edit.\n"
  "namespace fm::embedded {\n"
  "extern const char* const ${SYMBOL};\n"
  "static const char kData[] = {${bytes} 0x00};\n"
  "const char* const ${SYMBOL} = kData;\n"
  "}  // namespace fm::embedded\n")
