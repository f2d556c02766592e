#include "jpeg_codec.h"

#include <turbojpeg.h>

namespace strevon {
namespace hosttool {

JpegCodec::JpegCodec() : m_decoder(tjInitDecompress()), m_encoder(tjInitCompress()) {}

JpegCodec::~JpegCodec() {
  if (m_decoder != nullptr) tjDestroy(m_decoder);
  if (m_encoder != nullptr) tjDestroy(m_encoder);
}

bool JpegCodec::ReadSize(const std::vector<unsigned char>& jpeg, int* width, int* height,
                         std::string* error) {
  int subsampling = 0;
  int colorspace = 0;
  if (m_decoder == nullptr || jpeg.empty() ||
      tjDecompressHeader3(m_decoder, jpeg.data(), static_cast<unsigned long>(jpeg.size()), width,
                          height, &subsampling, &colorspace) != 0) {
    *error = std::string("not a readable JPEG: ") + (m_decoder ? tjGetErrorStr2(m_decoder) : "no decoder");
    return false;
  }
  return true;
}

bool JpegCodec::Decode(const std::vector<unsigned char>& jpeg, RgbImage* out, std::string* error) {
  int width = 0;
  int height = 0;
  if (!ReadSize(jpeg, &width, &height, error)) return false;
  RgbImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  if (tjDecompress2(m_decoder, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                    image.pixels.data(), width, 0, height, TJPF_RGB, TJFLAG_ACCURATEDCT) != 0) {
    *error = std::string("JPEG decode failed: ") + tjGetErrorStr2(m_decoder);
    return false;
  }
  *out = std::move(image);
  return true;
}

bool JpegCodec::Encode(const RgbImage& image, int quality, std::vector<unsigned char>* out,
                       std::string* error) {
  if (m_encoder == nullptr || image.width <= 0 || image.height <= 0) {
    *error = "nothing to encode";
    return false;
  }
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (tjCompress2(m_encoder, image.pixels.data(), image.width, 0, image.height, TJPF_RGB, &buffer,
                  &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT) != 0) {
    *error = std::string("JPEG encode failed: ") + tjGetErrorStr2(m_encoder);
    if (buffer != nullptr) tjFree(buffer);
    return false;
  }
  out->assign(buffer, buffer + size);
  tjFree(buffer);
  return true;
}

bool LooksLikeJpeg(const std::vector<unsigned char>& bytes) {
  return bytes.size() >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8;
}

}  // namespace hosttool
}  // namespace strevon
