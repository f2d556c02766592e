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
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "infra/byte_buffer.h"

namespace quorvel {

class ServerMessage {
 public:
  ServerMessage() = default;
  virtual ~ServerMessage() = default;

  ServerMessage(const ServerMessage&) = default;
  ServerMessage& operator=(const ServerMessage&) = default;

  // Empties header data, body and headers; the response flag stays.
  void Clear();
  // Replace the stored bytes; an empty argument keeps what is there.
  void SetHeaderData(const std::vector<char>& data);
  void SetBody(const std::vector<char>& body);
  // Storage for a header block or body of size bytes, for the caller to
  // fill completely (its contents are undefined until then). Size 0 empties.
  char* HeaderSpace(std::size_t size) { return m_headerData.Resize(size); }
  char* BodySpace(std::size_t size) { return m_body.Resize(size); }

  // The body in place: valid until the message is next changed.
  const char* BodyData() const { return m_body.Data(); }
  std::size_t BodySize() const { return m_body.Size(); }

  // False (out untouched) when there is no body.
  bool GetBody(std::vector<char>& out) const;
  std::string GetBodyText() const;
  std::string GetHeaderText() const;

  // Value of the last header whose key equals key exactly; "" when none.
  std::string GetHeader(const std::string& key) const;

  // Fills the header list from the header data; true when at least one
  // "key: value" line was found. Lines end with "\r\n"; the first empty
  // line ends the block and text after the last "\r\n" is ignored. A line
  // counts only when it splits at ":" into exactly two pieces, so a value
  // can never contain a colon.
  bool ParseHeaders();
  // ParseHeaders, then works out the command: the "Response" value, or the
  // "Request" value when "Response" names a server request
  // ("request/validation"), which also turns IsResponse false until the
  // next Parse. True when the command is not empty.
  bool Parse();

  // True when the command contains command as a substring, so a
  // "recorder/event/subscribe" reply answers to "recorder/event".
  bool IsCommand(const std::string& command) const;
  // The command that Parse found ("" before Parse).
  std::string GetCommand() const;
  // False for a request from the server, true for a reply or a push.
  bool IsResponse() const { return m_isResponse; }

  const std::vector<std::pair<std::string, std::string>>& GetHeaders() const { return m_headers; }

 private:
  ByteBuffer m_headerData;
  ByteBuffer m_body;
  std::vector<std::pair<std::string, std::string>> m_headers;
  bool m_isResponse = true;
};

}  // namespace quorvel
