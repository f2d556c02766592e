// XmlDocument: one parsed XML document and XPath 1.0 selection over it, the
// DOM behind CXMLParser. pugixml serves on Linux; on Windows it is MSXML 3.0
// through COM (IXMLDOMDocument2 with the XPath selection language).
//
// Both backends keep the same observable rules: whitespace-only text stays
// a text node, a document has exactly one root element, every path is
// evaluated with the document node as context, matches come in document
// order (also for unions), and a path that is invalid or selects no node
// set is a failed selection. Text is UTF-8 both ways; the encoding of the
// bytes follows their byte-order mark or declaration, UTF-8 otherwise.
//
// A document is immutable once parsed. Nodes handed out share ownership of
// it, so a node stays readable after every other holder let go. Callers
// serialise use of one document (CXMLParser holds its lock); on Windows a
// document is best released on the thread that parsed it, which ends that
// thread's hold on COM.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quorvel {
namespace platform {

// A backend's reference to one DOM node and the document it lives in.
struct XmlNodeRef;

struct XmlNode {
  std::string name;        // node name as written, prefix included
  bool isElement = false;
  // The node value of the node's first child ("" for an element child);
  // for an attribute, its value, counted as present when not empty.
  bool hasFirstChild = false;
  std::string firstChildValue;
  std::shared_ptr<const XmlNodeRef> ref;
};

class XmlDocument {
 public:
  // Null when the bytes are not one well-formed document or no DOM is
  // available.
  static std::shared_ptr<const XmlDocument> Parse(const char* data, std::size_t size);
  static std::shared_ptr<const XmlDocument> ParseFile(const std::string& path);

  virtual ~XmlDocument() = default;

  // Every match of path (only the first when firstOnly), in document order.
  // False for an invalid path, a path that is not a node set, or a DOM
  // failure; matches is then empty.
  virtual bool Select(const std::string& path, bool firstOnly, std::vector<XmlNode>& matches) const = 0;
};

// Value of the attribute name of an element; "" when there is none or the
// node is no element.
std::string AttributeOf(const XmlNodeRef& node, const std::string& name);

}  // namespace platform
}  // namespace quorvel
