#include "infra/platform/xml_document.h"

#include <pugixml.hpp>

#include <utility>

namespace quorvel {
namespace platform {

namespace {

// Whitespace-only text is kept (a value written as blanks reads back as
// blanks) and comments and processing instructions stay nodes, so "the first
// child" means what it means in any DOM.
constexpr unsigned int kParseOptions = pugi::parse_full | pugi::parse_ws_pcdata;

// pugixml tolerates fragments; a document has exactly one root element.
bool HasOneRootElement(const pugi::xml_document& document) {
  int elements = 0;
  for (const pugi::xml_node& child : document.children()) {
    if (child.type() == pugi::node_element) ++elements;
  }
  return elements == 1;
}

class PugiDocument;

}  // namespace

struct XmlNodeRef {
  pugi::xml_node node;
  std::shared_ptr<const XmlDocument> document;  // keeps node's memory alive
};

namespace {

class PugiDocument : public XmlDocument, public std::enable_shared_from_this<PugiDocument> {
 public:
  bool Load(const char* data, std::size_t size) {
    return Accept(m_document.load_buffer(data, size, kParseOptions, pugi::encoding_auto));
  }
  bool LoadFile(const std::string& path) {
    return Accept(m_document.load_file(path.c_str(), kParseOptions, pugi::encoding_auto));
  }

  bool Select(const std::string& path, bool firstOnly, std::vector<XmlNode>& matches) const override {
    matches.clear();
    try {
      // Throws on an invalid path or one that is not a node set.
      const pugi::xpath_query query(path.c_str());
      if (firstOnly) {
        const pugi::xpath_node match = query.evaluate_node(m_document);
        if (match) matches.push_back(Describe(match));
        return true;
      }
      pugi::xpath_node_set found = query.evaluate_node_set(m_document);
      found.sort();
      for (const pugi::xpath_node& match : found) matches.push_back(Describe(match));
      return true;
    } catch (...) {
      matches.clear();
      return false;
    }
  }

 private:
  bool Accept(const pugi::xml_parse_result& result) const {
    return result && HasOneRootElement(m_document);
  }

  XmlNode Describe(const pugi::xpath_node& match) const {
    XmlNode node;
    if (match.attribute()) {
      node.name = match.attribute().name();
      node.firstChildValue = match.attribute().value();
      node.hasFirstChild = !node.firstChildValue.empty();
      return node;
    }
    const pugi::xml_node element = match.node();
    node.name = element.name();
    node.isElement = element.type() == pugi::node_element;
    const pugi::xml_node child = element.first_child();
    node.hasFirstChild = static_cast<bool>(child);
    if (child) node.firstChildValue = child.value();
    node.ref = std::make_shared<XmlNodeRef>(XmlNodeRef{element, shared_from_this()});
    return node;
  }

  pugi::xml_document m_document;
};

template <typename Loader>
std::shared_ptr<const XmlDocument> Make(Loader load) {
  try {
    auto document = std::make_shared<PugiDocument>();
    if (!load(*document)) return nullptr;
    return document;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

std::shared_ptr<const XmlDocument> XmlDocument::Parse(const char* data, std::size_t size) {
  return Make([&](PugiDocument& document) { return document.Load(data, size); });
}

std::shared_ptr<const XmlDocument> XmlDocument::ParseFile(const std::string& path) {
  return Make([&](PugiDocument& document) { return document.LoadFile(path); });
}

std::string AttributeOf(const XmlNodeRef& node, const std::string& name) {
  try {
    return node.node.attribute(name.c_str()).value();
  } catch (...) {
    return std::string();
  }
}

}  // namespace platform
}  // namespace quorvel
