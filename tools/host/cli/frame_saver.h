// FrameSaver: writes frames into the output directory. The driver's
// receiver thread offers every Nth frame (Offer copies the bytes into a
// bounded queue and never touches the disk); the main thread writes the
// queue out (Flush) and writes the latest frame of each channel at the end.
// When the queue is full an offered frame is dropped and counted, so a slow
// disk never holds up frame delivery. Files are written to a temporary name
// and renamed, so a reader never sees half a picture.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace strevon {
namespace hosttool {

class FrameSaver {
 public:
  explicit FrameSaver(std::string directory, std::size_t maxPending = 64);

  // Creates the directory (and its parents). Main thread, before streaming.
  bool Prepare(std::string* error);
  const std::string& Directory() const { return m_directory; }
  std::string PathOf(const std::string& fileName) const { return m_directory + "/" + fileName; }

  // Receiver thread. False when the frame was dropped.
  bool Offer(const std::string& label, std::uint64_t number, const unsigned char* bytes,
             std::size_t size, bool jpeg);
  // Main thread: writes what is queued; false on the first write error.
  bool Flush(std::string* error);
  // Main thread: writes one file now.
  bool Write(const std::string& fileName, const std::vector<unsigned char>& bytes,
             std::string* error);

  std::uint64_t Written() const { return m_written; }
  std::uint64_t Dropped() const { return m_dropped; }

  // "<label>-<number, six digits>.jpg" (".bin" when not JPEG).
  static std::string NumberedName(const std::string& label, std::uint64_t number, bool jpeg);

 private:
  struct Pending {
    std::string fileName;
    std::vector<unsigned char> bytes;
  };

  const std::string m_directory;
  const std::size_t m_maxPending;
  std::mutex m_mutex;
  std::vector<Pending> m_pending;  // guarded by m_mutex
  std::atomic<std::uint64_t> m_written{0};
  std::atomic<std::uint64_t> m_dropped{0};
};

}  // namespace hosttool
}  // namespace strevon
