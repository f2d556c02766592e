#include "frame_source.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "frame_stamp.h"

namespace strevon {
namespace sim {

namespace {

// 5x7 glyphs, one byte per row, bit 4 is the leftmost pixel.
struct Glyph {
  char c;
  unsigned char rows[7];
};

const Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'_', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}},
};

const unsigned char kUnknownGlyph[7] = {0x1F, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1F};

const unsigned char* GlyphRows(char c) {
  const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const auto& g : kFont) {
    if (g.c == u) return g.rows;
  }
  return kUnknownGlyph;
}

// SOI, then the APP11 segment that holds the stamp.
void AppendJpegPrefix(std::vector<unsigned char>& out) {
  const unsigned char prefix[] = {0xFF, 0xD8, 0xFF, 0xEB, 0x00,
                                  static_cast<unsigned char>(2 + kFrameStampSize)};
  out.insert(out.end(), prefix, prefix + sizeof(prefix));
  out.resize(out.size() + kFrameStampSize, 0);
}

void Stamp(std::vector<unsigned char>& body, std::uint32_t kind, std::uint32_t cid, std::uint64_t seq) {
  FrameStamp stamp;
  stamp.channel = cid;
  stamp.sequence = seq;
  stamp.body_length = static_cast<std::uint32_t>(body.size());
  stamp.kind = kind;
  WriteFrameStamp(stamp, body.data() + FrameStampOffset(kind));
}

}  // namespace

FrameSource::FrameSource(const VideoSettings& settings) : settings_(settings) {}

FrameSource::~FrameSource() {
  if (encoder_ != nullptr) tjDestroy(static_cast<tjhandle>(encoder_));
}

std::vector<unsigned char> FrameSource::MakeNative(std::uint32_t cid, std::uint64_t seq) {
  std::vector<unsigned char> body(std::max(settings_.native_size, kFrameStampSize));
  for (std::size_t k = kFrameStampSize; k < body.size(); ++k) body[k] = FillerByte(k, seq);
  Stamp(body, kFrameKindNative, cid, seq);
  return body;
}

std::vector<unsigned char> FrameSource::MakeJpeg(const std::string& label, std::uint32_t cid,
                                                 std::uint64_t seq) {
  std::vector<unsigned char> body;
  if (settings_.render_jpeg) body = RenderJpeg(label, seq);
  if (body.empty()) body = SyntheticJpeg(seq);
  Stamp(body, kFrameKindJpeg, cid, seq);
  return body;
}

std::vector<unsigned char> FrameSource::SyntheticJpeg(std::uint64_t seq) const {
  std::vector<unsigned char> body;
  AppendJpegPrefix(body);
  const std::size_t target = std::max<std::size_t>(settings_.jpeg_size, body.size() + 2);
  // COM segments carry the filler up to the configured size.
  while (body.size() + 2 < target) {
    const std::size_t room = target - 2 - body.size();
    // A segment needs 4 bytes of marker and length; never leave 1..3 bytes over.
    std::size_t payload = room >= 4 ? room - 4 : 0;
    if (payload > 65533) {
      payload = 65533;
      if (room - 4 - payload < 4) payload -= 4;
    }
    body.push_back(0xFF);
    body.push_back(0xFE);
    body.push_back(static_cast<unsigned char>(((payload + 2) >> 8) & 0xFF));
    body.push_back(static_cast<unsigned char>((payload + 2) & 0xFF));
    for (std::size_t i = 0; i < payload; ++i) body.push_back(FillerByte(body.size(), seq));
  }
  body.push_back(0xFF);
  body.push_back(0xD9);
  return body;
}

void FrameSource::DrawText(const std::string& text, int x, int y, int scale) {
  const int w = settings_.width;
  const int h = settings_.height;
  for (char c : text) {
    const unsigned char* rows = GlyphRows(c);
    for (int r = 0; r < 7; ++r) {
      for (int col = 0; col < 5; ++col) {
        if ((rows[r] & (0x10 >> col)) == 0) continue;
        for (int dy = 0; dy < scale; ++dy) {
          for (int dx = 0; dx < scale; ++dx) {
            const int px = x + col * scale + dx;
            const int py = y + r * scale + dy;
            if (px < 0 || py < 0 || px >= w || py >= h) continue;
            unsigned char* p = &pixels_[(static_cast<std::size_t>(py) * w + px) * 3];
            p[0] = p[1] = p[2] = 255;
          }
        }
      }
    }
    x += 6 * scale;
  }
}

std::vector<unsigned char> FrameSource::RenderJpeg(const std::string& label, std::uint64_t seq) {
  const int w = settings_.width;
  const int h = settings_.height;
  if (encoder_ == nullptr) encoder_ = tjInitCompress();
  if (encoder_ == nullptr) return {};
  pixels_.assign(static_cast<std::size_t>(w) * h * 3, 0);

  static const unsigned char kBars[8][3] = {{192, 192, 192}, {192, 192, 0}, {0, 192, 192},
                                            {0, 192, 0},     {192, 0, 192}, {192, 0, 0},
                                            {0, 0, 192},     {16, 16, 16}};
  const int bar_width = std::max(1, w / 8);
  const int shift = static_cast<int>((seq * 4) % static_cast<std::uint64_t>(w));
  for (int y = 0; y < h; ++y) {
    unsigned char* row = &pixels_[static_cast<std::size_t>(y) * w * 3];
    for (int x = 0; x < w; ++x) {
      const unsigned char* c = kBars[((x + shift) / bar_width) % 8];
      row[x * 3] = c[0];
      row[x * 3 + 1] = c[1];
      row[x * 3 + 2] = c[2];
    }
  }
  // A square bouncing along the bottom half shows motion at a glance.
  const int box = std::max(8, h / 8);
  const int span = std::max(1, w - box);
  const int pos = static_cast<int>((seq * 6) % static_cast<std::uint64_t>(2 * span));
  const int bx = pos < span ? pos : 2 * span - pos;
  const int by = h - box - h / 10;
  for (int y = std::max(0, by); y < std::min(h, by + box); ++y) {
    for (int x = bx; x < std::min(w, bx + box); ++x) {
      unsigned char* p = &pixels_[(static_cast<std::size_t>(y) * w + x) * 3];
      p[0] = p[1] = p[2] = 240;
    }
  }
  // Dark banner with the camera name and the frame counter.
  const int scale = std::max(1, w / 160);
  const int banner = std::min(h, 9 * scale * 2 + 4 * scale);
  for (int y = 0; y < banner; ++y) {
    std::memset(&pixels_[static_cast<std::size_t>(y) * w * 3], 20, static_cast<std::size_t>(w) * 3);
  }
  DrawText(label, 2 * scale, 2 * scale, scale);
  DrawText("FRAME " + std::to_string(seq), 2 * scale, 11 * scale, scale);

  unsigned char* jpeg = nullptr;
  unsigned long jpeg_size = 0;
  const int quality = std::min(100, std::max(1, settings_.jpeg_quality));
  if (tjCompress2(static_cast<tjhandle>(encoder_), pixels_.data(), w, 0, h, TJPF_RGB, &jpeg, &jpeg_size,
                  TJSAMP_420, quality, TJFLAG_FASTDCT) != 0 ||
      jpeg == nullptr || jpeg_size < 4) {
    if (jpeg != nullptr) tjFree(jpeg);
    return {};
  }
  std::vector<unsigned char> body;
  body.reserve(jpeg_size + 6 + kFrameStampSize);
  AppendJpegPrefix(body);
  body.insert(body.end(), jpeg + 2, jpeg + jpeg_size);  // the encoder's SOI is already in place
  tjFree(jpeg);
  return body;
}

}  // namespace sim
}  // namespace strevon
