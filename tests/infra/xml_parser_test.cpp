#include "infra/xml_parser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/wait.h"

namespace quorvel {
namespace {

using namespace test_support;

std::vector<char> Bytes(const std::string& text) { return std::vector<char>(text.begin(), text.end()); }

const char kSample[] = "<Root><Blank>  </Blank><Attr id=\"7\"/></Root>";

// Invalid paths and paths that are no node set are errors of the query
// engine; they come back as empty results, never as exceptions.
TEST(CXMLParserTest, InvalidPathsAndMissingDocumentsGiveEmptyResults) {
  CXMLParser parser;
  for (bool loaded : {false, true}) {
    ASSERT_TRUE(!loaded || parser.LoadXML(kSample, ""));
    for (const char* path : {"Root/Blank Padded", "", "Root[", "count(Root/*)", "Root/@", "\"t\""}) {
      SCOPED_TRACE(std::string(loaded ? "loaded, " : "nothing loaded, ") + path);
      EXPECT_FALSE(parser.NodeExists(path));
      EXPECT_EQ("", parser.GetText(path));
      EXPECT_TRUE(parser.GetTexts(path).empty());
      EXPECT_TRUE(parser.SelectElements(path).empty());
      EXPECT_EQ("", parser.GetAttribute("id", path));
    }
  }
}

TEST(CXMLParserTest, MultipleMatchesComeInDocumentOrderWithoutEmptyTextsOrNonElements) {
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadXML(
      "<P><C><Ptz id=\"1\"/><Cam id=\"2\"/></C><M><Cam id=\"3\"/><Ptz id=\"4\"/></M>"
      "<I>704x576</I><I/><I> </I><I></I><A v=\"1\"/><A v=\"\"/><A/>t<!--c--></P>",
      ""));
  std::vector<std::string> found;
  for (const XMLElementRef& e : parser.SelectElements("//Ptz | //Cam | //Cam/@id")) {
    found.push_back(e.name + parser.GetAttribute(e, "id"));
  }
  EXPECT_EQ((std::vector<std::string>{"Ptz1", "Cam2", "Cam3", "Ptz4"}), found);
  EXPECT_EQ((std::vector<std::string>{"1"}), parser.GetTexts("P/A/@v")) << "empty texts left out";
  EXPECT_EQ(9u, parser.SelectElements("P/node()").size()) << "text and comment left out";
}

TEST(CXMLParserTest, LoadRules) {
  const char* const malformed[] = {"",        "   ",     "<a><b></a>", "<a>",      "<a/><b/>",
                                   "not xml", "<a x=1/>", "<a></b>",   "<?xml version=\"1.0\"?>"};
  for (const char* text : malformed) {
    SCOPED_TRACE(std::string("text \"") + text + "\"");
    CXMLParser parser;
    EXPECT_FALSE(parser.LoadXML(text, ""));
    EXPECT_FALSE(parser.LoadFromBuffer(Bytes(text)));
    EXPECT_TRUE(parser.LoadXML("<a>ok</a>", "")) << "a failed load leaves the parser empty";
  }
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadFromBuffer(Bytes("<First>\xC3\xA9</First>")));  // UTF-8 without declaration
  EXPECT_FALSE(parser.LoadFromBuffer(Bytes("<Second>2</Second>")) || parser.LoadXML("<S/>", ""));
  EXPECT_EQ("\xC3\xA9", parser.GetText("First")) << "a second load keeps the first document";
  parser.Close();
  parser.Close();
  EXPECT_FALSE(parser.NodeExists("First"));
}

TEST(CXMLParserTest, ElementKeepsItsDocumentAfterTheParserIsGone) {
  std::vector<XMLElementRef> elements;
  {
    CXMLParser first;
    ASSERT_TRUE(first.LoadXML("<R><Channel id=\"5\"/></R>", ""));
    elements = first.SelectElements("R/Channel");
  }
  ASSERT_EQ(1u, elements.size());
  CXMLParser second;
  ASSERT_TRUE(second.LoadXML("<Other/>", ""));
  EXPECT_EQ("5", second.GetAttribute(elements[0], "id"));
  EXPECT_EQ("", second.GetAttribute(XMLElementRef{}, "id"));
}

// Every operation runs under the parser's lock, so Close racing with
// queries from other threads neither crashes nor races.
TEST(CXMLParserTest, CloseWhileOtherThreadsQuery) {
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadXML(kSample, ""));
  std::atomic<int> running{0};
  std::atomic<bool> closed{false};
  const auto query = [&] {
    for (int round = 0, after = 0; after < 50; ++round) {  // a few queries after Close too
      for (const XMLElementRef& element : parser.SelectElements("Root/*")) {
        parser.GetAttribute(element, "id");
      }
      if (round == 0) ++running;
      if (closed.load()) ++after;
    }
  };
  std::thread threads[] = {std::thread(query), std::thread(query), std::thread(query)};
  EXPECT_TRUE(WaitUntil([&] { return running.load() == 3; }, 10000));
  parser.Close();
  closed = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(parser.NodeExists("Root"));
}

}  // namespace
}  // namespace quorvel
