// JpegCodec: the few libjpeg-turbo operations the host tool needs: read a
// JPEG's size, decode it to packed RGB, encode packed RGB. Owns one
// turbojpeg handle per direction. Not thread-safe: one codec per thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strevon {
namespace hosttool {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;  // width * height * 3
};

class JpegCodec {
 public:
  JpegCodec();
  ~JpegCodec();
  JpegCodec(const JpegCodec&) = delete;
  JpegCodec& operator=(const JpegCodec&) = delete;

  bool ReadSize(const std::vector<unsigned char>& jpeg, int* width, int* height, std::string* error);
  bool Decode(const std::vector<unsigned char>& jpeg, RgbImage* out, std::string* error);
  bool Encode(const RgbImage& image, int quality, std::vector<unsigned char>* out, std::string* error);

 private:
  void* m_decoder = nullptr;
  void* m_encoder = nullptr;
};

// True when the bytes start with a JPEG start-of-image marker.
bool LooksLikeJpeg(const std::vector<unsigned char>& bytes);

}  // namespace hosttool
}  // namespace strevon
