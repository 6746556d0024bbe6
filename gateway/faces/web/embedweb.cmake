# Writes OUTPUT, a C++ source holding the files under WEB_DIR whose names end in one of WEB_TYPES
# (extensions separated by commas) as bytes (cmake -P).
string(REPLACE "," ";" types "${WEB_TYPES}")
set(globs "")
foreach(type IN LISTS types)
  list(APPEND globs "${WEB_DIR}/*.${type}")
endforeach()
file(GLOB_RECURSE files RELATIVE "${WEB_DIR}" ${globs})
list(SORT files)
set(arrays "")
set(entries "")
set(index 0)
foreach(name IN LISTS files)
  file(READ "${WEB_DIR}/${name}" bytes HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
  string(APPEND arrays "const unsigned char file${index}[] = {${bytes}0};\n")
  file(SIZE "${WEB_DIR}/${name}" size)
  string(APPEND entries "        {\"${name}\", file${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new"
  "// Generated from gateway/faces/web/page/ by gateway/faces/web/embedweb.cmake.\n"
  "#include \"gateway/faces/web/webfiles.h\"\n\nnamespace {\n${arrays}} // namespace\n\n"
  "const std::vector<WebFile> &webFiles() {\n"
  "    static const std::vector<WebFile> files = {\n${entries}    };\n"
  "    return files;\n}\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
