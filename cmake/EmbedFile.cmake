# Script mode: writes OUTPUT, a C++ source holding the bytes of INPUT as SYMBOL.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Break the initialiser into lines of 32 bytes so compilers and diffs stay comfortable.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}"
"// Generated from ${INPUT}; do not edit.\n#include <cstddef>\n"
"extern const unsigned char ${SYMBOL}[] = {\n${bytes}0x00};\n"
"extern const std::size_t ${SYMBOL}Size = ${size};\n")
