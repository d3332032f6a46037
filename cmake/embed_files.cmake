# Writes a C++ source holding files as byte arrays, served by fsu-sim's control server: the page's
# files go into the program at build time, so it fetches nothing from anywhere at run time.
#   cmake -DOUTPUT=web_files.cpp -DFILES="a.html;b.js" -P embed_files.cmake
# Each file is served at "/" and its name (sim/web.h).
set(arrays "")
set(entries "")
set(i 0)
foreach(file IN LISTS FILES)
  file(READ "${file}" bytes HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
  get_filename_component(name "${file}" NAME)
  string(APPEND arrays "const unsigned char file${i}[] = {${bytes}};\n")
  string(APPEND entries "    {\"/${name}\", {reinterpret_cast<const char*>(file${i}), sizeof file${i}}},\n")
  math(EXPR i "${i} + 1")
endforeach()
file(CONFIGURE OUTPUT "${OUTPUT}" @ONLY CONTENT [=[// Made at build time by cmake/embed_files.cmake: the page's files as fsu-sim serves them.
#include "sim/web.h"

namespace sim {
namespace {

@arrays@
const WebFile kFiles[] = {
@entries@};

}  // namespace

std::span<const WebFile> web_files() { return kFiles; }

}  // namespace sim
]=])
