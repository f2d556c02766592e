#include "infra/xml_parser.h"

#include <utility>

#include "infra/platform/file_system.h"
#include "infra/settings.h"

namespace quorvel {

namespace {

constexpr const char* kUtf8Declaration = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n";

}  // namespace

CXMLParser::~CXMLParser() { Close(); }

bool CXMLParser::LoadBytes(const char* data, std::size_t size) {
  m_document = platform::XmlDocument::Parse(data, size);
  return m_document != nullptr;
}

bool CXMLParser::Select(const std::string& path, bool firstOnly,
                        std::vector<platform::XmlNode>& matches) const {
  return m_document && m_document->Select(path, firstOnly, matches);
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
    m_document = platform::XmlDocument::ParseFile(path);
    if (!m_document) return false;
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
  try {
    std::vector<platform::XmlNode> matches;
    return Select(path, true, matches) && !matches.empty();
  } catch (...) {
    return false;
  }
}

std::string CXMLParser::GetText(const std::string& path) const {
  CLockGuard guard(m_lock);
  try {
    std::vector<platform::XmlNode> matches;
    if (!Select(path, true, matches) || matches.empty() || !matches[0].hasFirstChild) {
      return std::string();
    }
    return matches[0].firstChildValue;
  } catch (...) {
    return std::string();
  }
}

std::vector<std::string> CXMLParser::GetTexts(const std::string& path) const {
  CLockGuard guard(m_lock);
  try {
    std::vector<platform::XmlNode> matches;
    if (!Select(path, false, matches)) return {};
    std::vector<std::string> texts;
    for (platform::XmlNode& match : matches) {
      if (match.hasFirstChild) texts.push_back(std::move(match.firstChildValue));
    }
    return texts;
  } catch (...) {
    return {};
  }
}

std::vector<XMLElementRef> CXMLParser::SelectElements(const std::string& path) const {
  CLockGuard guard(m_lock);
  try {
    std::vector<platform::XmlNode> matches;
    if (!Select(path, false, matches)) return {};
    std::vector<XMLElementRef> elements;
    for (platform::XmlNode& match : matches) {
      if (!match.isElement || !match.ref) continue;
      elements.push_back(XMLElementRef{std::move(match.name), std::move(match.ref)});
    }
    return elements;
  } catch (...) {
    return {};
  }
}

std::string CXMLParser::GetAttribute(const XMLElementRef& element, const std::string& name) const {
  CLockGuard guard(m_lock);
  if (!m_document || !element.node) return std::string();
  return platform::AttributeOf(*element.node, name);
}

std::string CXMLParser::GetAttribute(const std::string& name, const std::string& path) const {
  CLockGuard guard(m_lock);
  try {
    std::vector<platform::XmlNode> matches;
    if (!Select(path, true, matches) || matches.empty() || !matches[0].ref) return std::string();
    return platform::AttributeOf(*matches[0].ref, name);
  } catch (...) {
    return std::string();
  }
}

}  // namespace quorvel
