// ReadBuffer: buffered reading of the Gateway's byte stream, so that the
// small pieces of a message (start marker, lengths, header block) cost one
// system call together rather than one each, and a large body goes straight
// from the socket into its final storage once the buffered bytes are used.
// That direct read is a scatter read: one call takes the rest of the body
// into its storage and whatever follows it into the buffer, as much as the
// stack holds and the buffer has room for. Every receive thus drains the
// socket, as a plain reader's would: a receive that stopped at the end of
// the body would cost one system call and one window update more per
// message, and on a fast stream each update makes the reader's thread run
// the sender's next transmit. The part of the next body that came with it
// is copied from the buffer: that copy costs less than the receive it
// saves.
//
// Owned by CSendReceiveBase and used only by the reading thread; Reset
// (dropping what is buffered) belongs to the owner, while no thread reads.
// The 128 KiB of storage are taken at the first read. That is twice the
// socket's receive buffer, so that one receive takes all that the kernel
// holds and what arrives while it copies: against a buffer of the socket's
// size, a stream of small messages needs half the receive calls.
#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>

namespace quorvel {

class ReadBuffer {
 public:
  // Reads at least one and at most firstSize + secondSize bytes in one go,
  // filling first before any byte goes to second (secondSize may be 0);
  // returns the total, 0 when the stream failed or the reader is being
  // stopped.
  using Fill = std::function<std::size_t(char* first, std::size_t firstSize, char* second,
                                         std::size_t secondSize)>;
  // True while a search for the start marker may go on reading.
  using KeepGoing = std::function<bool()>;

  static constexpr std::size_t kCapacity = 128 * 1024;
  // Reads of at least this many bytes bypass the buffer once its bytes are
  // used, up to their last byte.
  static constexpr std::size_t kDirectReadMin = 16 * 1024;

  explicit ReadBuffer(Fill fill) : m_fill(std::move(fill)) {}

  // Exactly count bytes into destination; false when the stream failed
  // first (the bytes already taken are gone, as they would be from the
  // socket).
  bool Read(char* destination, std::size_t count) {
    // Lengths, header blocks and small bodies are nearly always buffered.
    if (count != 0 && count <= m_end - m_begin) {
      std::memcpy(destination, m_data.get() + m_begin, count);
      m_begin += count;
      return true;
    }
    return ReadThrough(destination, count);
  }
  // Reads and drops count bytes.
  bool Skip(std::size_t count);
  // Consumes bytes until the last size of them equal marker. keepGoing is
  // asked before every read from the stream after the first.
  bool SkipPast(const char* marker, std::size_t size, const KeepGoing& keepGoing);
  // Consumes the next size bytes when they are buffered and equal marker,
  // as they are in a healthy stream; false (nothing consumed) otherwise.
  bool SkipIfNext(const char* marker, std::size_t size) {
    if (m_end - m_begin < size || std::memcmp(m_data.get() + m_begin, marker, size) != 0) return false;
    m_begin += size;
    return true;
  }
  // Drops whatever is buffered (a new connection starts clean).
  void Reset() { m_begin = m_end = 0; }

  std::size_t Buffered() const { return m_end - m_begin; }

 private:
  // Read for bytes that are not all buffered yet.
  bool ReadThrough(char* destination, std::size_t count);
  // The storage, taken at the first use.
  char* Storage();
  // Makes at least count (<= kCapacity) bytes available at m_begin.
  bool Ensure(std::size_t count);
  // Appends what the stream gives to the buffered bytes, asking for as
  // many as there is room for.
  bool FillMore();

  Fill m_fill;
  std::unique_ptr<char[]> m_data;
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
};

}  // namespace quorvel
