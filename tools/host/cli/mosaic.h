// Mosaic: one picture of every channel side by side. Each channel's latest
// JPEG is decoded, scaled to a common tile size (area averaging, aspect kept
// by the first picture) and placed in a grid of about square shape, left to
// right, top to bottom; a channel without a picture stays a dark tile. The
// result is encoded as JPEG. A plain function object; no threads.
#pragma once

#include <string>
#include <vector>

#include "jpeg_codec.h"

namespace strevon {
namespace hosttool {

struct MosaicLayout {
  int columns = 0;
  int rows = 0;
};

// Columns and rows for count tiles: columns = ceil(sqrt(count)).
MosaicLayout MosaicLayoutFor(int count);

// Area-average scaling of an RGB image to width x height.
RgbImage ScaleImage(const RgbImage& source, int width, int height);

class Mosaic {
 public:
  explicit Mosaic(int tileWidth = 320) : m_tileWidth(tileWidth) {}

  // tiles[i]: channel i's JPEG bytes (empty: no picture). False when no tile
  // could be decoded.
  bool Build(const std::vector<std::vector<unsigned char>>& tiles, std::vector<unsigned char>* jpeg,
             std::string* error) const;

 private:
  int m_tileWidth;
};

}  // namespace hosttool
}  // namespace strevon
