// ServerMessage: one message from the Gateway: a header block of
// "key: value" lines and an opaque body (XML text or one video frame).
//
// The receiver thread fills it (Clear, SetHeaderData, SetBody, Parse) and
// hands it by reference to the registered receivers, which only read it
// while the dispatch runs. Not thread-safe; one thread at a time.
#pragma once

#include <string>
#include <utility>
#include <vector>

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
  // ("request/validation"). True when the command is not empty.
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
  std::vector<char> m_headerData;
  std::vector<char> m_body;
  std::vector<std::pair<std::string, std::string>> m_headers;
  bool m_isResponse = true;
};

}  // namespace quorvel
