// ReadBuffer: buffered reading of the Gateway's byte stream, so that the
// small pieces of a message (start marker, lengths, header block) cost one
// system call together rather than one each, and a large body goes straight
// from the socket into its final storage once the buffered bytes are used.
// That direct read is a scatter read: one call takes the rest of the body
// into its storage and the bytes after it (the next message's head, as far
// as the stack holds them) into the buffer, so that a large message costs
// one system call where the stream keeps up. The refills stay short while
// bodies are large, so that little of a body passes through the buffer.
//
// Owned by CSendReceiveBase and used only by the reading thread; Reset
// (dropping what is buffered) belongs to the owner, while no thread reads.
// The 128 KiB of storage are taken at the first read. That is twice the
// socket's receive buffer, so that one receive takes all that the kernel
// holds and what arrives while it copies: against a buffer of the socket's
// size, a stream of small messages needs half the receive calls.
#pragma once

#include <cstddef>
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
  // used, up to their last byte, each call taking up to one refill step
  // more into the buffer.
  static constexpr std::size_t kDirectReadMin = 16 * 1024;
  // After such a read the buffer refills in steps of this size (enough for
  // the pieces before the next body), so that large bodies keep going
  // straight into their storage instead of through the buffer; a read of
  // a small body (more than kSmallPiece bytes, less than kDirectReadMin)
  // returns it to whole-buffer refills, so that many small messages cost
  // one system call.
  static constexpr std::size_t kShortFill = 1024;
  static constexpr std::size_t kSmallPiece = 512;

  explicit ReadBuffer(Fill fill) : m_fill(std::move(fill)) {}

  // Exactly count bytes into destination; false when the stream failed
  // first (the bytes already taken are gone, as they would be from the
  // socket).
  bool Read(char* destination, std::size_t count);
  // Reads and drops count bytes.
  bool Skip(std::size_t count);
  // Consumes bytes until the last size of them equal marker. keepGoing is
  // asked before every read from the stream after the first.
  bool SkipPast(const char* marker, std::size_t size, const KeepGoing& keepGoing);
  // Drops whatever is buffered (a new connection starts clean).
  void Reset() { m_begin = m_end = 0; }

  std::size_t Buffered() const { return m_end - m_begin; }

 private:
  // The storage, taken at the first use.
  char* Storage();
  // Makes at least count (<= kCapacity) bytes available at m_begin.
  bool Ensure(std::size_t count);
  // Appends what the stream gives to the buffered bytes, asking for at
  // least wanted bytes (as room allows) and at least the refill step.
  bool FillMore(std::size_t wanted);

  Fill m_fill;
  std::unique_ptr<char[]> m_data;
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
  std::size_t m_fillStep = kCapacity;
};

}  // namespace quorvel
