# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P EmbedBytes.cmake: writes the bytes of INPUT as a C++ array.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from ${INPUT} by cmake/EmbedBytes.cmake.\n"
                     "namespace kavelo::platform {\n"
                     "extern const unsigned char ${SYMBOL}[];\n"
                     "extern const int ${SYMBOL}Size;\n"
                     "const unsigned char ${SYMBOL}[] = {\n${bytes}0};\n"
                     "const int ${SYMBOL}Size = ${size};\n"
                     "} // namespace kavelo::platform\n")
