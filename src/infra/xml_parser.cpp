#include "infra/xml_parser.h"

#include <utility>

#include "infra/platform/file_system.h"
#include "infra/settings.h"

namespace quorvel {

namespace {

// Whitespace-only text is kept (a value written as blanks reads back as
// blanks) and comments and processing instructions stay nodes, so "the first
// child" means what it means in any DOM.
constexpr unsigned int kParseOptions = pugi::parse_full | pugi::parse_ws_pcdata;

constexpr const char* kUtf8Declaration = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n";

// pugixml tolerates fragments; a document has exactly one root element.
bool HasOneRootElement(const pugi::xml_document& document) {
  int elements = 0;
  for (const pugi::xml_node& child : document.children()) {
    if (child.type() == pugi::node_element) ++elements;
  }
  return elements == 1;
}

// The value of the node's first child, which is what a match "holds". An
// attribute's value counts as its one text child (none when it is empty).
bool FirstChildValue(const pugi::xpath_node& match, std::string& value) {
  if (match.attribute()) {
    value = match.attribute().value();
    return !value.empty();
  }
  const pugi::xml_node child = match.node().first_child();
  if (!child) return false;
  value = child.value();
  return true;
}

// All matches in document order. Throws on an invalid path or a path that
// is not a node set; callers catch.
pugi::xpath_node_set SelectSorted(const pugi::xml_document& document, const std::string& path) {
  const pugi::xpath_query query(path.c_str());
  pugi::xpath_node_set matches = query.evaluate_node_set(document);
  matches.sort();
  return matches;
}

// The first match in document order, or an empty node.
pugi::xpath_node SelectFirst(const pugi::xml_document& document, const std::string& path) {
  const pugi::xpath_query query(path.c_str());
  return query.evaluate_node(document);
}

}  // namespace

CXMLParser::~CXMLParser() { Close(); }

bool CXMLParser::Adopt(std::shared_ptr<pugi::xml_document> document,
                       const pugi::xml_parse_result& result) {
  if (!result || !HasOneRootElement(*document)) return false;
  m_document = std::move(document);
  return true;
}

bool CXMLParser::LoadBytes(const char* data, std::size_t size) {
  try {
    auto document = std::make_shared<pugi::xml_document>();
    const pugi::xml_parse_result result =
        document->load_buffer(data, size, kParseOptions, pugi::encoding_auto);
    return Adopt(std::move(document), result);
  } catch (...) {
    return false;
  }
}

bool CXMLParser::LoadXML(const std::string& text, const std::string& /*namespaces*/) {
  CLockGuard guard(m_lock);
  if (m_document) return false;
  return LoadBytes(text.data(), text.size());
}

bool CXMLParser::LoadFromBuffer(const std::vector<char>& body) {
  CLockGuard guard(m_lock);
  if (m_document) return false;
  try {
    std::string text(body.begin(), body.end());
    if (text.find("<?xml version") == std::string::npos) text.insert(0, kUtf8Declaration);
    return LoadBytes(text.data(), text.size());
  } catch (...) {
    return false;
  }
}

bool CXMLParser::LoadFile() {
  CLockGuard guard(m_lock);
  try {
    const std::string path = GetSettingsFilePath();
    if (path.empty()) return false;
    // Only a file that does not exist is "missing"; any other trouble is
    // left to the load below, which then fails.
    if (platform::ProbeFile(path) == platform::FileProbe::kMissing) return false;
    if (m_document) return false;
    auto document = std::make_shared<pugi::xml_document>();
    const pugi::xml_parse_result result =
        document->load_file(path.c_str(), kParseOptions, pugi::encoding_auto);
    if (!Adopt(std::move(document), result)) return false;
    m_loadedPath = path;
    return true;
  } catch (...) {
    return false;
  }
}

void CXMLParser::Close() {
  CLockGuard guard(m_lock);
  m_document.reset();
  m_loadedPath.clear();
}

bool CXMLParser::NodeExists(const std::string& path) const {
  CLockGuard guard(m_lock);
  if (!m_document) return false;
  try {
    return static_cast<bool>(SelectFirst(*m_document, path));
  } catch (...) {
    return false;
  }
}

std::string CXMLParser::GetText(const std::string& path) const {
  CLockGuard guard(m_lock);
  if (!m_document) return std::string();
  try {
    const pugi::xpath_node match = SelectFirst(*m_document, path);
    std::string value;
    if (!match || !FirstChildValue(match, value)) return std::string();
    return value;
  } catch (...) {
    return std::string();
  }
}

std::vector<std::string> CXMLParser::GetTexts(const std::string& path) const {
  CLockGuard guard(m_lock);
  if (!m_document) return {};
  try {
    std::vector<std::string> texts;
    for (const pugi::xpath_node& match : SelectSorted(*m_document, path)) {
      std::string value;
      if (FirstChildValue(match, value)) texts.push_back(std::move(value));
    }
    return texts;
  } catch (...) {
    return {};
  }
}

std::vector<XMLElementRef> CXMLParser::SelectElements(const std::string& path) const {
  CLockGuard guard(m_lock);
  if (!m_document) return {};
  try {
    std::vector<XMLElementRef> elements;
    for (const pugi::xpath_node& match : SelectSorted(*m_document, path)) {
      const pugi::xml_node node = match.node();
      if (node.type() != pugi::node_element) continue;
      elements.push_back(XMLElementRef{node.name(), node, m_document});
    }
    return elements;
  } catch (...) {
    return {};
  }
}

std::string CXMLParser::GetAttribute(const XMLElementRef& element, const std::string& name) const {
  CLockGuard guard(m_lock);
  if (!m_document || !element.document) return std::string();
  try {
    return element.node.attribute(name.c_str()).value();
  } catch (...) {
    return std::string();
  }
}

std::string CXMLParser::GetAttribute(const std::string& name, const std::string& path) const {
  CLockGuard guard(m_lock);
  if (!m_document) return std::string();
  try {
    const pugi::xpath_node match = SelectFirst(*m_document, path);
    return match.node().attribute(name.c_str()).value();
  } catch (...) {
    return std::string();
  }
}

}  // namespace quorvel
