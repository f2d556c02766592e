// ByteBuffer: a growable block of bytes that keeps its storage when it is
// emptied or shrunk, and does not clear the bytes it adds, so that one
// object can take message after message at the cost of the bytes written
// into it. Copies copy the bytes only. Not thread-safe.
#pragma once

#include <cstddef>
#include <memory>

namespace quorvel {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer& other);
  ByteBuffer& operator=(const ByteBuffer& other);
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ~ByteBuffer() = default;

  // size bytes whose contents are left as they happen to be; storage grows
  // when needed and is given back only with the object.
  char* Resize(std::size_t size);
  void Assign(const char* data, std::size_t size);
  void Clear() { m_size = 0; }

  const char* Data() const { return m_data.get(); }
  char* Data() { return m_data.get(); }
  std::size_t Size() const { return m_size; }
  bool Empty() const { return m_size == 0; }

 private:
  std::unique_ptr<char[]> m_data;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

}  // namespace quorvel
