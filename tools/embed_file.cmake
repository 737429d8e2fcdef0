# Writes a C++ source that defines `const char NAME[]` holding the bytes of
# INPUT followed by a terminating zero. Run with cmake -P and the variables
# INPUT, OUTPUT and NAME.
file(READ "${INPUT}" bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.\n"
                       "extern const char ${NAME}[];\n"
                       "const char ${NAME}[] = {\n${bytes}'\\0'};\n")
