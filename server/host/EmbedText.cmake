# cmake -DIN=<text file> -DOUT=<source> -DNAME=<symbol> -P EmbedText.cmake
# Turns a text file into a NUL-terminated char array so the program carries it.
file(READ "${IN}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUT}.tmp"
  "// Generated from ${IN}; edit that file instead.\n"
  "extern const char ${NAME}[];\n"
  "const char ${NAME}[] = {${bytes}0};\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
