#include "infra/byte_buffer.h"

#include <cstring>
#include <utility>

namespace quorvel {

ByteBuffer::ByteBuffer(const ByteBuffer& other) { Assign(other.Data(), other.Size()); }

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) {
  if (this != &other) Assign(other.Data(), other.Size());
  return *this;
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : m_data(std::move(other.m_data)), m_size(other.m_size), m_capacity(other.m_capacity) {
  other.m_size = 0;
  other.m_capacity = 0;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    m_data = std::move(other.m_data);
    m_size = std::exchange(other.m_size, 0);
    m_capacity = std::exchange(other.m_capacity, 0);
  }
  return *this;
}

char* ByteBuffer::Resize(std::size_t size) {
  if (size > m_capacity) {
    // Default-initialised: the caller writes the bytes it asked for.
    std::unique_ptr<char[]> grown(new char[size]);
    if (m_size > 0) std::memcpy(grown.get(), m_data.get(), m_size);
    m_data = std::move(grown);
    m_capacity = size;
  }
  m_size = size;
  return m_data.get();
}

void ByteBuffer::Assign(const char* data, std::size_t size) {
  char* target = Resize(size);
  if (size > 0) std::memcpy(target, data, size);
}

}  // namespace quorvel
