#include "mosaic.h"

#include <algorithm>
#include <cmath>

namespace strevon {
namespace hosttool {

namespace {
constexpr unsigned char kEmptyTile = 0x20;
constexpr int kGap = 2;
constexpr int kQuality = 85;
}  // namespace

MosaicLayout MosaicLayoutFor(int count) {
  MosaicLayout layout;
  if (count <= 0) return layout;
  layout.columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
  layout.rows = (count + layout.columns - 1) / layout.columns;
  return layout;
}

RgbImage ScaleImage(const RgbImage& source, int width, int height) {
  RgbImage out;
  out.width = width;
  out.height = height;
  out.pixels.assign(static_cast<std::size_t>(width) * height * 3, 0);
  if (source.width <= 0 || source.height <= 0) return out;
  for (int y = 0; y < height; ++y) {
    const int y0 = y * source.height / height;
    const int y1 = std::max(y0 + 1, (y + 1) * source.height / height);
    for (int x = 0; x < width; ++x) {
      const int x0 = x * source.width / width;
      const int x1 = std::max(x0 + 1, (x + 1) * source.width / width);
      unsigned sum[3] = {0, 0, 0};
      for (int sy = y0; sy < y1; ++sy) {
        const unsigned char* row = &source.pixels[(static_cast<std::size_t>(sy) * source.width + x0) * 3];
        for (int sx = x0; sx < x1; ++sx, row += 3) {
          sum[0] += row[0];
          sum[1] += row[1];
          sum[2] += row[2];
        }
      }
      const unsigned n = static_cast<unsigned>((y1 - y0) * (x1 - x0));
      unsigned char* dst = &out.pixels[(static_cast<std::size_t>(y) * width + x) * 3];
      for (int c = 0; c < 3; ++c) dst[c] = static_cast<unsigned char>((sum[c] + n / 2) / n);
    }
  }
  return out;
}

bool Mosaic::Build(const std::vector<std::vector<unsigned char>>& tiles,
                   std::vector<unsigned char>* jpeg, std::string* error) const {
  JpegCodec codec;
  std::vector<RgbImage> decoded(tiles.size());
  int tileHeight = 0;
  std::size_t good = 0;
  std::string lastError;
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    if (tiles[i].empty()) continue;
    if (!codec.Decode(tiles[i], &decoded[i], &lastError)) continue;
    ++good;
    if (tileHeight == 0) {
      tileHeight = std::max(1, m_tileWidth * decoded[i].height / decoded[i].width);
    }
  }
  if (good == 0) {
    *error = tiles.empty() ? "no channels" : "no channel has a picture" +
                                                 (lastError.empty() ? "" : " (" + lastError + ")");
    return false;
  }
  const MosaicLayout layout = MosaicLayoutFor(static_cast<int>(tiles.size()));
  RgbImage canvas;
  canvas.width = layout.columns * m_tileWidth + (layout.columns + 1) * kGap;
  canvas.height = layout.rows * tileHeight + (layout.rows + 1) * kGap;
  canvas.pixels.assign(static_cast<std::size_t>(canvas.width) * canvas.height * 3, 0);
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const int left = kGap + static_cast<int>(i % layout.columns) * (m_tileWidth + kGap);
    const int top = kGap + static_cast<int>(i / layout.columns) * (tileHeight + kGap);
    RgbImage tile;
    if (decoded[i].width > 0) tile = ScaleImage(decoded[i], m_tileWidth, tileHeight);
    for (int y = 0; y < tileHeight; ++y) {
      unsigned char* dst = &canvas.pixels[(static_cast<std::size_t>(top + y) * canvas.width + left) * 3];
      if (tile.width > 0) {
        std::copy_n(&tile.pixels[static_cast<std::size_t>(y) * m_tileWidth * 3], m_tileWidth * 3, dst);
      } else {
        std::fill_n(dst, m_tileWidth * 3, kEmptyTile);
      }
    }
  }
  return codec.Encode(canvas, kQuality, jpeg, error);
}

}  // namespace hosttool
}  // namespace strevon
