// ServerMessage: one message from the Gateway: a header block of
// "key: value" lines and an opaque body (XML text or one video frame).
//
// The receiver thread fills it (Clear, then SetHeaderData/SetBody or the
// blocks read straight into HeaderSpace/BodySpace, then Parse) and hands it
// by reference to the registered receivers, which only read it while the
// dispatch runs. The receiver keeps one object for the life of its
// connection: Clear keeps the storage, so a stream of frames allocates
// nothing once the largest has been seen. Not thread-safe; one thread at a
// time.
//
// The body may also be left in the stream (SetPendingBody): its size is
// known, and its bytes are read once, either by TakeBody straight into the
// storage of whoever keeps the frame, or into the message's own storage by
// the first accessor that needs them. The stream belongs to the reader,
// which ends the pending state (EndPendingBody) before the message is
// reused; a copy of the message carries the bytes, never the stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "infra/byte_buffer.h"

namespace quorvel {

class ServerMessage {
 public:
  ServerMessage() = default;
  virtual ~ServerMessage() = default;

  ServerMessage(const ServerMessage& other);
  ServerMessage& operator=(const ServerMessage& other);

  // Where a pending body is read from.
  class BodyStream {
   public:
    // Exactly size bytes into destination; false when the stream failed.
    virtual bool ReadBody(char* destination, std::size_t size) = 0;
    // Reads and drops size bytes.
    virtual bool SkipBody(std::size_t size) = 0;

   protected:
    ~BodyStream() = default;
  };

  // Empties header data, body and headers; the response flag stays. A body
  // still pending is forgotten, not read: EndPendingBody first.
  void Clear();
  // Replace the stored bytes; an empty argument keeps what is there.
  void SetHeaderData(const std::vector<char>& data);
  void SetBody(const std::vector<char>& body);
  // Storage for a header block or body of size bytes, for the caller to
  // fill completely (its contents are undefined until then). Size 0 empties.
  char* HeaderSpace(std::size_t size) {
    ForgetHeaders();
    return m_headerData.Resize(size);
  }
  char* BodySpace(std::size_t size) { return m_body.Resize(size); }

  // The next size bytes of stream are this message's body.
  void SetPendingBody(BodyStream* stream, std::size_t size);
  bool BodyPending() const { return m_stream != nullptr; }
  // Reads the body into destination, which holds capacity bytes: straight
  // from the stream while it is pending, else from the message's storage.
  // False (nothing read) when destination is null or the body does not
  // fit, and when the stream fails. Once taken from the stream the body is
  // no longer the message's: it is empty from then on.
  bool TakeBody(unsigned char* destination, std::size_t capacity);
  // Drops a body nobody read (the stream moves past it).
  void EndPendingBody();

  // The body in place: valid until the message is next changed. A pending
  // body is read in first.
  const char* BodyData() const;
  // Known without reading a pending body: the announced size until it is
  // read (a body whose read fails is empty, as one that never came).
  std::size_t BodySize() const { return m_stream != nullptr ? m_pendingSize : m_body.Size(); }

  // False (out untouched) when there is no body.
  bool GetBody(std::vector<char>& out) const;
  std::string GetBodyText() const;
  std::string GetHeaderText() const;

  // The keys every frame is asked for, whose headers the parse finds
  // without a search.
  enum class Known { kCid, kSize, kWidth, kStatus, kFourcc, kHeight, kRequest, kResponse };

  // Value of the last header whose key equals key exactly; "" when none.
  std::string GetHeader(const std::string& key) const;
  // The same without a copy: valid until the message is next changed.
  std::string_view HeaderView(std::string_view key) const;
  std::string_view HeaderView(Known key) const {
    return m_split ? m_known[static_cast<std::size_t>(key)] : std::string_view();
  }

  // Parses the header data; true when at least one "key: value" line was
  // found. Lines end with "\r\n"; the first empty line ends the block and
  // text after the last "\r\n" is ignored. A line counts only when it
  // splits at ":" into exactly two pieces, so a value can never contain a
  // colon.
  bool ParseHeaders();
  // ParseHeaders, then works out the command: the "Response" value, or the
  // "Request" value when "Response" names a server request
  // ("request/validation"), which also turns IsResponse false until the
  // next Parse. True when the command is not empty.
  bool Parse();

  // True when the command contains command as a substring, so a
  // "recorder/event/subscribe" reply answers to "recorder/event".
  bool IsCommand(std::string_view command) const;
  // The command that Parse found ("" before Parse).
  std::string GetCommand() const { return std::string(m_command); }
  // The same without a copy: valid until the message is next changed.
  std::string_view Command() const { return m_command; }
  // False for a request from the server, true for a reply or a push.
  bool IsResponse() const { return m_isResponse; }

  // The parsed headers as copies, in order.
  std::vector<std::pair<std::string, std::string>> GetHeaders() const;

 private:
  // Reads a pending body into m_body (empty when the stream fails).
  void LoadPendingBody() const;
  // Drops what a parse found; the header data stays.
  void ForgetHeaders();
  // ParseHeaders without the command: finds the known keys' values and
  // whether there is any header, without listing the headers.
  bool SplitHeaders();
  // Calls onHeader(key, value) for every header of the header data, in
  // order; returns how many there were.
  template <typename OnHeader>
  std::size_t WalkHeaders(OnHeader&& onHeader) const;
  // The parsed headers, listed on the first call after a parse: only a
  // look-up by a key that is not known needs them, and a frame has none.
  const std::vector<std::pair<std::string_view, std::string_view>>& Headers() const;
  // The "Response" or the "Request" value, as IsResponse says.
  void FindCommand() { m_command = HeaderView(m_isResponse ? Known::kResponse : Known::kRequest); }

  static constexpr std::size_t kKnownKeys = static_cast<std::size_t>(Known::kResponse) + 1;

  // The last header block split, with where its known keys' values were.
  // Every frame of a camera carries the same header block: its repeat is
  // recognised by one compare and takes the values from here, where a
  // split would walk every line again.
  class SplitMemo {
   public:
    // True when the size bytes at data are the block kept here: known then
    // holds its values, as views into data, and found whether it had any
    // header.
    bool Recall(const char* data, std::size_t size, std::array<std::string_view, kKnownKeys>& known,
                bool& found) const;
    // Keeps the block at data and the values its split found (views into
    // it); an empty block, or one longer than kMaxBlock, is not kept.
    void Keep(const char* data, std::size_t size, const std::array<std::string_view, kKnownKeys>& known,
              bool found);

   private:
    static constexpr std::size_t kMaxBlock = 256;
    static constexpr std::uint16_t kAbsent = 0xffff;

    std::size_t m_size = 0;  // 0: nothing kept
    bool m_found = false;
    std::array<std::uint16_t, kKnownKeys> m_offsets{};  // kAbsent: no such header
    std::array<std::uint16_t, kKnownKeys> m_sizes{};
    std::array<char, kMaxBlock> m_block;
  };

  ByteBuffer m_headerData;
  // Filled late by the const accessors when the body was pending.
  mutable ByteBuffer m_body;
  mutable BodyStream* m_stream = nullptr;
  std::size_t m_pendingSize = 0;
  // Whether the header data was split since it last changed.
  bool m_split = false;
  // Views into m_headerData, like every view below: whatever replaces the
  // header data forgets them, and a copy parses its own header data again.
  // Filled by Headers().
  mutable std::vector<std::pair<std::string_view, std::string_view>> m_headers;
  mutable bool m_listed = false;
  // Per frequently read key, the value of its last header; set by the
  // split, and read only while m_split holds.
  std::array<std::string_view, kKnownKeys> m_known{};
  SplitMemo m_memo;
  std::string_view m_command;
  bool m_isResponse = true;
};

}  // namespace quorvel
