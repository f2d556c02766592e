// ClientMessage: one request from the driver to the Gateway: a command name
// and URL-style parameters, written as a 4-byte little-endian length and the
// request text ("command?name=value&name=value").
//
// Created with new by whoever sends it; once handed to CGWClient::Send it
// belongs to the client, which deletes it after writing or refusing it.
// Not thread-safe: built on one thread, then only read by the sender thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quorvel {

class ClientMessage {
 public:
  explicit ClientMessage(const std::string& command);
  virtual ~ClientMessage() = default;

  ClientMessage(const ClientMessage&) = default;
  ClientMessage& operator=(const ClientMessage&) = default;

  // Appends "name=value" with the value in decimal.
  void AddParam(const std::string& name, unsigned int value);
  // Appends "name=value" with the value percent-encoded. A parameter whose
  // value is empty is left out of the request altogether; there is no way
  // to send an empty text value.
  void AddParam(const std::string& name, const std::string& value);

  // The command, then "?" and the parameters joined by "&".
  std::string GetRequestText() const;
  // The request frame; empty when the request text is empty.
  void Serialize(std::vector<char>& out) const;
  // The size of that frame (0 when it would be empty), without building it.
  std::size_t FrameSize() const;

 private:
  std::vector<char> m_command;
  std::vector<std::string> m_parameters;
};

// Byte-wise percent-encoding: ASCII letters, digits and "~-_." pass, every
// other byte (0x80 and above included) becomes "%" and two upper-case hex
// digits.
std::string UrlEncode(const std::string& text);

}  // namespace quorvel
