# Writes the page's files into one C++ source as byte arrays (cmake -P, run
# by the build whenever a file changes):
#   cmake -DOUTPUT=view_assets.cpp -DFILES="a.html|b.js" -P embed_assets.cmake
set(body "")
set(table "")
set(n 0)
string(REPLACE "|" ";" FILES "${FILES}")
foreach(path IN LISTS FILES)
  get_filename_component(name "${path}" NAME)
  get_filename_component(ext "${path}" LAST_EXT)
  set(type "application/octet-stream")
  if(ext STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(ext STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(ext STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(ext STREQUAL ".svg")
    set(type "image/svg+xml")
  endif()
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND body "const unsigned char kFile${n}[] = {${bytes} 0};\n")
  string(APPEND table "    {\"${name}\", \"${type}\", kFile${n}, ${size}},\n")
  math(EXPR n "${n} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Written by embed_assets.cmake from tools/host/view/web; do not edit.
#include \"view_assets.h\"

namespace strevon {
namespace hosttool {
namespace {
${body}
const ViewAsset kAssets[] = {
${table}};
}  // namespace

const ViewAsset* FindViewAsset(const std::string& name) {
  for (const ViewAsset& asset : kAssets) {
    if (name == asset.name) return &asset;
  }
  return nullptr;
}

}  // namespace hosttool
}  // namespace strevon
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
