// ChannelSetup: what the host hands to StartChannel besides the frame
// handler: the picture size and the two stream values. Owned by the host
// side; the driver reads it during StartChannel only.
#pragma once

#include <cstdint>

#include "strevon.h"

namespace strevon {
namespace host {

class ChannelSize : public quorvel::ipcapture::IChannelSize {
 public:
  ChannelSize(std::uint16_t width, std::uint16_t height) : m_width(width), m_height(height) {}
  std::uint16_t GetWidth() override { return m_width; }
  std::uint16_t GetHeight() override { return m_height; }

 private:
  std::uint16_t m_width;
  std::uint16_t m_height;
};

class ChannelSetup : public quorvel::ipcapture::IChannelSetup,
                     private quorvel::ipcapture::IChannelVideoSettings,
                     private quorvel::ipcapture::IChannelStreamSettings {
 public:
  ChannelSetup(std::uint16_t width = 640, std::uint16_t height = 480,
               std::uint16_t firstStreamValue = 0, std::uint16_t secondStreamValue = 0,
               std::uint32_t secondaryFlag = 0)
      : m_size(width, height),
        m_first(firstStreamValue),
        m_second(secondStreamValue),
        m_secondary(secondaryFlag) {}

  quorvel::ipcapture::IChannelVideoSettings* GetVideoSettings() override { return this; }
  quorvel::ipcapture::IChannelStreamSettings* GetStreamSettings() override { return this; }

 private:
  quorvel::ipcapture::IChannelSize* GetSize() override { return &m_size; }
  std::uint16_t GetFirstStreamValue() override { return m_first; }
  std::uint16_t GetSecondStreamValue() override { return m_second; }
  std::uint32_t GetSecondaryFlag() override { return m_secondary; }

  ChannelSize m_size;
  std::uint16_t m_first;
  std::uint16_t m_second;
  std::uint32_t m_secondary;
};

}  // namespace host
}  // namespace strevon
