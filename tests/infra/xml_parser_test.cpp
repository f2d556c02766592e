#include "infra/xml_parser.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace quorvel {
namespace {

std::vector<char> Bytes(const std::string& text) { return std::vector<char>(text.begin(), text.end()); }

std::vector<std::string> Names(const std::vector<XMLElementRef>& elements) {
  std::vector<std::string> names;
  for (const XMLElementRef& element : elements) names.push_back(element.name);
  return names;
}

const char kSample[] =
    "<Root>\n"
    "  <Blank>  </Blank>\n"
    "  <Padded>  a b  </Padded>\n"
    "  <Nested><Inner>x</Inner>tail</Nested>\n"
    "  <Empty/>\n"
    "  <Attr id=\"7\" empty=\"\"/>\n"
    "  <Cdata><![CDATA[<raw> & more]]></Cdata>\n"
    "  <Escaped>a &lt; b &amp; c</Escaped>\n"
    "</Root>";

class LoadedSample : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_parser.LoadXML(kSample, "")); }
  CXMLParser m_parser;
};

TEST_F(LoadedSample, GetTextIsTheFirstChildsValueAsWritten) {
  struct Case {
    const char* path;
    bool exists;
    const char* text;
  };
  const Case cases[] = {
      {"Root/Blank", true, "  "},
      {"Root/Padded", true, "  a b  "},
      {"/Root/Padded", true, "  a b  "},
      {"//Padded", true, "  a b  "},
      // The first child of Nested is an element, which has no value.
      {"Root/Nested", true, ""},
      {"Root/Nested/Inner", true, "x"},
      {"Root/Empty", true, ""},
      {"Root/Missing", false, ""},
      {"Padded", false, ""},  // paths start at the document node, not the root
      {"Root/Attr/@id", true, "7"},
      {"Root/Attr/@empty", true, ""},
      {"Root/Cdata", true, "<raw> & more"},
      {"Root/Escaped", true, "a < b & c"},
      // The root's first child is the line break and indentation before Blank.
      {"Root", true, "\n  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("path ") + c.path);
    EXPECT_EQ(m_parser.NodeExists(c.path), c.exists);
    EXPECT_EQ(m_parser.GetText(c.path), c.text);
  }
}

TEST_F(LoadedSample, InvalidPathsGiveEmptyResults) {
  const char* const paths[] = {"Root/Blank Padded", "", "Root[", "count(Root/*)", "Root/@",
                               "\"text\"", "Root/Blank]"};
  for (const char* path : paths) {
    SCOPED_TRACE(std::string("path \"") + path + "\"");
    EXPECT_FALSE(m_parser.NodeExists(path));
    EXPECT_EQ(m_parser.GetText(path), "");
    EXPECT_TRUE(m_parser.GetTexts(path).empty());
    EXPECT_TRUE(m_parser.SelectElements(path).empty());
    EXPECT_EQ(m_parser.GetAttribute("id", path), "");
  }
}

TEST_F(LoadedSample, GetAttributeByPathTakesTheNameFirst) {
  EXPECT_EQ(m_parser.GetAttribute("id", "Root/Attr"), "7");
  EXPECT_EQ(m_parser.GetAttribute("Root/Attr", "id"), "");
  EXPECT_EQ(m_parser.GetAttribute("missing", "Root/Attr"), "");
  EXPECT_EQ(m_parser.GetAttribute("id", "Root/Missing"), "");
  EXPECT_EQ(m_parser.GetAttribute("id", "Root/Attr/@id"), "");  // attributes have no attributes
}

TEST(CXMLParserTest, GetTextsSkipsMatchesWithoutChild) {
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadXML(
      "<R><Item>704x576</Item><Item/><Item>352x288</Item><Item> </Item><Item></Item></R>", ""));
  EXPECT_EQ(parser.GetTexts("R/Item"), (std::vector<std::string>{"704x576", "352x288", " "}));
  ASSERT_TRUE(parser.NodeExists("R"));
  EXPECT_TRUE(parser.GetTexts("R/Missing").empty());
}

TEST(CXMLParserTest, GetTextsOfAttributesSkipsEmptyValues) {
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadXML("<R><I v=\"1\"/><I v=\"\"/><I/><I v=\"3\"/></R>", ""));
  EXPECT_EQ(parser.GetTexts("R/I/@v"), (std::vector<std::string>{"1", "3"}));
}

TEST(CXMLParserTest, UnionIsReturnedInDocumentOrder) {
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadXML(
      "<Profile><Cameras><PtzCamera id=\"1\"/><Camera id=\"2\"/></Cameras>"
      "<More><Camera id=\"3\"/><PtzCamera id=\"4\"/></More></Profile>",
      ""));
  struct Case {
    const char* path;
    std::vector<std::string> names;
    std::vector<std::string> ids;
  };
  const Case cases[] = {
      {"//Camera | //PtzCamera",
       {"PtzCamera", "Camera", "Camera", "PtzCamera"},
       {"1", "2", "3", "4"}},
      {"//PtzCamera | //Camera",
       {"PtzCamera", "Camera", "Camera", "PtzCamera"},
       {"1", "2", "3", "4"}},
      {"Profile/More/* | Profile/Cameras/Camera", {"Camera", "Camera", "PtzCamera"}, {"2", "3", "4"}},
      // Attribute matches are not elements and are left out.
      {"//Camera | //Camera/@id", {"Camera", "Camera"}, {"2", "3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("path ") + c.path);
    const std::vector<XMLElementRef> elements = parser.SelectElements(c.path);
    EXPECT_EQ(Names(elements), c.names);
    std::vector<std::string> ids;
    for (const XMLElementRef& element : elements) ids.push_back(parser.GetAttribute(element, "id"));
    EXPECT_EQ(ids, c.ids);
  }
}

TEST(CXMLParserTest, SelectElementsLeavesOutTextAndComments) {
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadXML("<R>a<!--c--><B/>b<C/></R>", ""));
  EXPECT_EQ(Names(parser.SelectElements("R/node()")), (std::vector<std::string>{"B", "C"}));
  EXPECT_EQ(parser.GetText("R"), "a");
}

TEST(CXMLParserTest, ElementKeepsItsDocumentAfterTheParserIsGone) {
  std::vector<XMLElementRef> elements;
  {
    CXMLParser first;
    ASSERT_TRUE(first.LoadXML("<R><Channel id=\"5\"/></R>", ""));
    elements = first.SelectElements("R/Channel");
  }
  ASSERT_EQ(elements.size(), 1u);
  CXMLParser second;
  ASSERT_TRUE(second.LoadXML("<Other/>", ""));
  EXPECT_EQ(second.GetAttribute(elements[0], "id"), "5");
  EXPECT_EQ(second.GetAttribute(XMLElementRef{}, "id"), "");
}

TEST(CXMLParserTest, SecondLoadFailsAndKeepsTheFirstDocument) {
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadFromBuffer(Bytes("<First>1</First>")));
  EXPECT_FALSE(parser.LoadFromBuffer(Bytes("<Second>2</Second>")));
  EXPECT_FALSE(parser.LoadXML("<Second>2</Second>", ""));
  EXPECT_EQ(parser.GetText("First"), "1");
  EXPECT_FALSE(parser.NodeExists("Second"));

  parser.Close();
  parser.Close();  // nothing loaded: harmless
  EXPECT_FALSE(parser.NodeExists("First"));
  ASSERT_TRUE(parser.LoadFromBuffer(Bytes("<Second>2</Second>")));
  EXPECT_EQ(parser.GetText("Second"), "2");
}

TEST(CXMLParserTest, QueriesWithoutDocumentAreEmpty) {
  CXMLParser parser;
  EXPECT_FALSE(parser.NodeExists("R"));
  EXPECT_EQ(parser.GetText("R"), "");
  EXPECT_TRUE(parser.GetTexts("R").empty());
  EXPECT_TRUE(parser.SelectElements("R").empty());
  EXPECT_EQ(parser.GetAttribute("id", "R"), "");
}

TEST(CXMLParserTest, MalformedTextDoesNotLoad) {
  const char* const texts[] = {"",          "   ",        "<a><b></a>", "<a>",
                               "<a/><b/>",  "not xml",    "<a x=1/>",   "<a></b>",
                               "<?xml version=\"1.0\"?>"};
  for (const char* text : texts) {
    SCOPED_TRACE(std::string("text \"") + text + "\"");
    CXMLParser parser;
    EXPECT_FALSE(parser.LoadXML(text, ""));
    EXPECT_FALSE(parser.NodeExists("a"));
    // A failed load leaves the parser empty and ready for the next one.
    EXPECT_FALSE(parser.LoadFromBuffer(Bytes(text)));
    EXPECT_TRUE(parser.LoadXML("<a>ok</a>", ""));
    EXPECT_EQ(parser.GetText("a"), "ok");
  }
}

TEST(CXMLParserTest, BodyEncodingFollowsTheDeclaration) {
  struct Case {
    const char* name;
    std::string body;
    const char* path;
    std::string text;
  };
  const Case cases[] = {
      {"one empty element, no declaration", "<Empty/>", "Empty", ""},
      {"UTF-8 without declaration", "<N>\xC3\xA9t\xC3\xA9</N>", "N", "\xC3\xA9t\xC3\xA9"},
      {"Latin-1 declared", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<N>\xE9t\xE9</N>",
       "N", "\xC3\xA9t\xC3\xA9"},
      {"Latin-1 declared in single quotes", "<?xml version='1.0' encoding='iso-8859-1'?><N>\xFC</N>",
       "N", "\xC3\xBC"},
      {"UTF-8 declared", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><N>\xC3\xBC</N>", "N",
       "\xC3\xBC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CXMLParser parser;
    ASSERT_TRUE(parser.LoadFromBuffer(Bytes(c.body)));
    EXPECT_TRUE(parser.NodeExists(c.path));
    EXPECT_EQ(parser.GetText(c.path), c.text);
  }
}

TEST(CXMLParserTest, LineEndsInsideTextAreNormalised) {
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadFromBuffer(Bytes("<N>a\r\nb</N>")));
  EXPECT_EQ(parser.GetText("N"), "a\nb");
}

// Home directory with its own settings file, so the file load can be tested
// without touching anything next to the test executable.
class SettingsFileLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    m_home = std::filesystem::temp_directory_path() /
             ("strevon_xml_" + std::to_string(random()) + std::to_string(random()));
    ASSERT_TRUE(std::filesystem::create_directories(m_home));
    ASSERT_EQ(setenv("STREVON_HOME", m_home.c_str(), 1), 0);
  }
  void TearDown() override {
    unsetenv("STREVON_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(m_home, ignored);
  }
  void WriteSettings(const std::string& text) {
    std::ofstream file(m_home / "Strevon.xml", std::ios::binary);
    file << text;
  }
  std::filesystem::path m_home;
};

TEST_F(SettingsFileLoad, MissingFileDoesNotLoad) {
  CXMLParser parser;
  EXPECT_FALSE(parser.LoadFile());
  EXPECT_FALSE(parser.NodeExists("Configuration"));
}

TEST_F(SettingsFileLoad, PresentFileLoadsOnceOnly) {
  WriteSettings("<Configuration><Common><Profile>ops</Profile></Common></Configuration>");
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadFile());
  EXPECT_EQ(parser.GetText("Configuration/Common/Profile"), "ops");
  EXPECT_FALSE(parser.LoadFile());
  EXPECT_FALSE(parser.LoadXML("<Other/>", ""));
  EXPECT_EQ(parser.GetText("Configuration/Common/Profile"), "ops");
}

TEST_F(SettingsFileLoad, MalformedFileDoesNotLoad) {
  WriteSettings("<Configuration><Common></Configuration>");
  CXMLParser parser;
  EXPECT_FALSE(parser.LoadFile());
  EXPECT_TRUE(parser.LoadXML("<Other/>", ""));
}

// Close racing with queries from other threads must neither crash nor race:
// every operation runs under the parser's lock.
TEST(CXMLParserTest, CloseWhileOtherThreadsQuery) {
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadXML(kSample, ""));
  constexpr int kThreads = 3;
  std::mutex mutex;
  std::condition_variable started;
  int running = 0;
  std::atomic<bool> closed{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      bool counted = false;
      // A few queries after Close, to cover both sides of it.
      for (int after = 0; after < 50;) {
        parser.GetText("Root/Padded");
        for (const XMLElementRef& element : parser.SelectElements("Root/*")) {
          parser.GetAttribute(element, "id");
        }
        if (!counted) {
          std::lock_guard<std::mutex> lock(mutex);
          ++running;
          counted = true;
          started.notify_all();
        }
        if (closed.load()) ++after;
      }
    });
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(started.wait_for(lock, std::chrono::seconds(10), [&] { return running == kThreads; }));
  }
  parser.Close();
  closed.store(true);
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(parser.NodeExists("Root"));
}

}  // namespace
}  // namespace quorvel
