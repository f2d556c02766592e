// CXMLParser: one loaded XML document and read-only XPath queries over it.
//
// Gateway response bodies (log-on, profile, PTZ properties) and the settings
// file are read through this class; nothing builds or saves XML with it. A
// parser is normally a local object of the function that parses and owns
// its document until Close or destruction. Paths are XPath 1.0 expressions
// evaluated with the document node as context, so "Configuration/Common"
// starts at the root element's name. Text is UTF-8 both ways.
//
// Nothing throws: every failure (malformed XML, invalid path, missing node or
// attribute) gives false, "" or an empty vector. Every operation holds the
// parser's lock for its whole duration, so one parser may be used from
// several threads, although the driver keeps each parser on one thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "infra/platform/xml_document.h"
#include "infra/recursive_lock.h"

namespace quorvel {

// One element found by SelectElements. It shares ownership of the document
// it came from, so the element stays readable after its parser closed.
struct XMLElementRef {
  std::string name;  // node name as written, prefix included
  std::shared_ptr<const platform::XmlNodeRef> node;
};

class CXMLParser {
 public:
  CXMLParser() = default;
  virtual ~CXMLParser();
  CXMLParser(const CXMLParser&) = delete;
  CXMLParser& operator=(const CXMLParser&) = delete;

  // Loading. Each fails, and changes nothing, while a document is loaded.
  //
  // The encoding follows the text: a byte-order mark or the declaration
  // (ISO-8859-1 is converted to UTF-8), UTF-8 otherwise. Prefixes in later
  // paths are matched as written in the document, so namespaces (a list of
  // prefix declarations) is accepted but not needed; the driver passes "".
  bool LoadXML(const std::string& text, const std::string& namespaces);
  // A Gateway message body; without any "<?xml version" it is read as UTF-8.
  bool LoadFromBuffer(const std::vector<char>& body);
  // The settings file at GetSettingsFilePath(); false when it is missing.
  bool LoadFile();
  // Drops the document; harmless when none is loaded.
  void Close();

  // Queries; each gives the empty result when no document is loaded.
  bool NodeExists(const std::string& path) const;
  // Value of the first child of the first match: the text exactly as written
  // for an element holding text, "" for an element whose first child is an
  // element, an attribute's value for an attribute.
  std::string GetText(const std::string& path) const;
  // GetText of every match in document order; matches without a child
  // (empty elements, empty attributes) add nothing.
  std::vector<std::string> GetTexts(const std::string& path) const;
  // Every element among the matches, in document order.
  std::vector<XMLElementRef> SelectElements(const std::string& path) const;
  std::string GetAttribute(const XMLElementRef& element, const std::string& name) const;
  // Attribute of the first node matching path. Note the order: name first.
  std::string GetAttribute(const std::string& name, const std::string& path) const;

 private:
  // No document may be loaded yet.
  bool LoadBytes(const char* data, std::size_t size) REQUIRES(m_lock);
  // False for a failed selection (invalid path).
  bool Select(const std::string& path, bool firstOnly, std::vector<platform::XmlNode>& matches) const
      REQUIRES(m_lock);

  mutable CRecursiveLock m_lock;
  // Null while nothing is loaded.
  std::shared_ptr<const platform::XmlDocument> m_document GUARDED_BY(m_lock);
  std::string m_loadedPath GUARDED_BY(m_lock);  // the file LoadFile loaded, else empty
};

}  // namespace quorvel
