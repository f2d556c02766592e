// The page of `strevon-host view`: the files under tools/host/view/web,
// built into the tool (tools/host/view/embed_assets.cmake writes them out
// as arrays), so the installed tool needs nothing beside it. Constant data;
// any thread.
#pragma once

#include <cstddef>
#include <string>

namespace strevon {
namespace hosttool {

struct ViewAsset {
  const char* name;  // file name, e.g. "view.js"
  const char* type;  // its Content-Type
  const unsigned char* data;
  std::size_t size;
};

// Null when there is no such file.
const ViewAsset* FindViewAsset(const std::string& name);

}  // namespace hosttool
}  // namespace strevon
