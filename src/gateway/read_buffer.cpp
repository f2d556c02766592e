#include "gateway/read_buffer.h"

#include <algorithm>
#include <cstring>

namespace quorvel {

bool ReadBuffer::ReadThrough(char* destination, std::size_t count) {
  // Decided once: the tail of a large read, however short, also goes
  // straight to its storage, so that it and the next head cost one call.
  const bool direct = count >= kDirectReadMin;
  while (count > 0) {
    if (m_begin == m_end) {
      m_begin = m_end = 0;
      if (direct) {
        const std::size_t got = m_fill(destination, count, Storage(), kCapacity);
        if (got == 0) return false;
        if (got > count) {
          m_end = got - count;
          return true;
        }
        destination += got;
        count -= got;
        continue;
      }
      if (!FillMore()) return false;
    }
    const std::size_t take = std::min(count, m_end - m_begin);
    std::memcpy(destination, m_data.get() + m_begin, take);
    m_begin += take;
    destination += take;
    count -= take;
  }
  return true;
}

bool ReadBuffer::Skip(std::size_t count) {
  while (count > 0) {
    if (m_begin == m_end) {
      m_begin = m_end = 0;
      if (!FillMore()) return false;
    }
    const std::size_t take = std::min(count, m_end - m_begin);
    m_begin += take;
    count -= take;
  }
  return true;
}

bool ReadBuffer::SkipPast(const char* marker, std::size_t size, const KeepGoing& keepGoing) {
  if (size == 0) return true;
  if (size > kCapacity || !Ensure(size)) return false;
  // In a healthy stream the marker is where the last message ended.
  if (SkipIfNext(marker, size)) return true;
  for (;;) {
    const char* const begin = m_data.get() + m_begin;
    const char* const end = m_data.get() + m_end;
    const char* const found = std::search(begin, end, marker, marker + size);
    if (found != end) {
      m_begin = static_cast<std::size_t>(found - m_data.get()) + size;
      return true;
    }
    // Keep the bytes that may still be the start of a marker.
    m_begin = m_end - (size - 1);
    if (keepGoing && !keepGoing()) return false;
    if (!Ensure(size)) return false;
  }
}

bool ReadBuffer::Ensure(std::size_t count) {
  while (m_end - m_begin < count) {
    if (!FillMore()) return false;
  }
  return true;
}

char* ReadBuffer::Storage() {
  if (!m_data) m_data.reset(new char[kCapacity]);
  return m_data.get();
}

bool ReadBuffer::FillMore() {
  Storage();
  if (m_begin > 0) {
    std::memmove(m_data.get(), m_data.get() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
  }
  if (m_end == kCapacity) return true;
  const std::size_t got = m_fill(m_data.get() + m_end, kCapacity - m_end, nullptr, 0);
  m_end += got;
  return got != 0;
}

}  // namespace quorvel
