# cmake -DSCRIPT=page.js -DSTYLE=page.css -DOUTPUT=page_assets.cpp -P embed.cmake
# Writes the page's files as the bytes behind pageScript() and pageStyle().
function(embedded name input out)
  file(READ "${input}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR length "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  set(${out} "\nstd::string_view ${name}() {\n  static const char bytes[] = {${bytes} 0};\n  return std::string_view(bytes, ${length});\n}\n" PARENT_SCOPE)
endfunction()

embedded(pageScript "${SCRIPT}" script)
embedded(pageStyle "${STYLE}" style)
file(WRITE "${OUTPUT}" "// Generated from the page's files by embed.cmake; do not edit.\n#include \"page_assets.h\"\n\n"
     "namespace moxcollect {\n${script}${style}\n}  // namespace moxcollect\n")
