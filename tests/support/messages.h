// Server messages built the way the Gateway client's receiver builds them:
// a header block of "Name: value" lines and an optional body, parsed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "gateway/server_message.h"

namespace quorvel {
namespace test_support {

using Headers = std::vector<std::pair<std::string, std::string>>;

// headers in order; body "" means no body. A header block the parser
// refuses fails the calling test.
inline ServerMessage MakeServerMessage(const Headers& headers, const std::string& body = {}) {
  std::string text;
  for (const auto& header : headers) text += header.first + ": " + header.second + "\r\n";
  text += "\r\n";
  ServerMessage message;
  message.SetHeaderData(std::vector<char>(text.begin(), text.end()));
  message.SetBody(std::vector<char>(body.begin(), body.end()));
  EXPECT_TRUE(message.Parse()) << text;
  return message;
}

}  // namespace test_support
}  // namespace quorvel
