#include "infra/platform/xml_document.h"

#include <windows.h>
#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

namespace quorvel {
namespace platform {

namespace {

// The MSXML 3.0 DOM document class and the interface the driver uses.
const CLSID kDomDocument30 = {0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const IID kIXMLDOMDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// One counted COM reference.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr& other) : m_ptr(other.m_ptr) {
    if (m_ptr != nullptr) m_ptr->AddRef();
  }
  ComPtr& operator=(const ComPtr& other) {
    if (other.m_ptr != nullptr) other.m_ptr->AddRef();
    Reset();
    m_ptr = other.m_ptr;
    return *this;
  }
  void Reset() {
    if (m_ptr != nullptr) m_ptr->Release();
    m_ptr = nullptr;
  }
  T* Get() const { return m_ptr; }
  T* operator->() const { return m_ptr; }
  T** Out() {
    Reset();
    return &m_ptr;
  }
  explicit operator bool() const { return m_ptr != nullptr; }

 private:
  T* m_ptr = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::wstring& text)
      : m_value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(m_value); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR Get() const { return m_value; }
  BSTR* Out() {
    SysFreeString(m_value);
    m_value = nullptr;
    return &m_value;
  }

 private:
  BSTR m_value = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&m_value); }
  ~Variant() { VariantClear(&m_value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT& Get() { return m_value; }

 private:
  VARIANT m_value;
};

std::wstring Widen(const std::string& text, UINT codePage) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), size, &wide[0], length);
  return wide;
}

std::string Narrow(const wchar_t* text, UINT length) {
  if (text == nullptr || length == 0) return std::string();
  const int size = static_cast<int>(length);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, size, &narrow[0], bytes, nullptr, nullptr);
  return narrow;
}

std::string Narrow(BSTR text) { return Narrow(text, SysStringLen(text)); }

// The node value as text; "" when it has none (elements, the document).
std::string NodeValue(IXMLDOMNode* node) {
  Variant value;
  if (FAILED(node->get_nodeValue(&value.Get()))) return std::string();
  if (value.Get().vt == VT_BSTR) return Narrow(value.Get().bstrVal);
  if (value.Get().vt == VT_NULL || value.Get().vt == VT_EMPTY) return std::string();
  if (FAILED(VariantChangeType(&value.Get(), &value.Get(), 0, VT_BSTR))) return std::string();
  return Narrow(value.Get().bstrVal);
}

// COM on the parsing thread, in the multithreaded apartment. A thread the
// host already put into a single-threaded apartment keeps it; COM is usable
// there as well, and such a thread is not ours to uninitialise.
class ComApartment {
 public:
  ComApartment() {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    m_owned = SUCCEEDED(result);
    m_usable = m_owned || result == RPC_E_CHANGED_MODE;
    m_thread = GetCurrentThreadId();
  }
  ~ComApartment() {
    // Only the thread that initialised may uninitialise; a document let go
    // elsewhere leaves its thread's COM up until that thread ends.
    if (m_owned && GetCurrentThreadId() == m_thread) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool IsUsable() const { return m_usable; }

 private:
  bool m_owned = false;
  bool m_usable = false;
  DWORD m_thread = 0;
};

// Keeps msxml3.dll mapped for the rest of the process: a node may be
// released after the last apartment on its thread ended, and COM would
// otherwise be free to unload the server under it.
void PinDomServer() {
  static const bool pinned = [] {
    HMODULE module = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "msxml3.dll", &module) != 0;
  }();
  (void)pinned;
}

class MsxmlDocument;

}  // namespace

struct XmlNodeRef {
  ComPtr<IXMLDOMNode> node;
  std::shared_ptr<const XmlDocument> document;  // keeps the apartment and DOM alive
};

namespace {

class MsxmlDocument : public XmlDocument, public std::enable_shared_from_this<MsxmlDocument> {
 public:
  ~MsxmlDocument() override {
    m_document.Reset();  // before the apartment goes
  }

  // Steps shared by both loads: a fresh synchronous document that keeps
  // whitespace.
  bool Create() {
    if (!m_apartment.IsUsable()) return false;
    if (FAILED(CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument2,
                                reinterpret_cast<void**>(m_document.Out())))) {
      return false;
    }
    PinDomServer();
    return SUCCEEDED(m_document->put_async(VARIANT_FALSE)) &&
           SUCCEEDED(m_document->put_preserveWhiteSpace(VARIANT_TRUE)) &&
           SUCCEEDED(m_document->put_validateOnParse(VARIANT_FALSE)) &&
           SUCCEEDED(m_document->put_resolveExternals(VARIANT_FALSE));
  }

  // The bytes go in as a byte array, so that MSXML reads their encoding
  // from the byte-order mark or the declaration as it would from a file.
  bool Load(const char* data, std::size_t size) {
    if (!Create() || size > 0x7FFFFFFFu) return false;
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
    if (bytes == nullptr) return false;
    Variant source;
    source.Get().vt = VT_ARRAY | VT_UI1;
    source.Get().parray = bytes;  // freed with source
    void* target = nullptr;
    if (FAILED(SafeArrayAccessData(bytes, &target))) return false;
    if (size > 0) CopyMemory(target, data, size);
    SafeArrayUnaccessData(bytes);
    return Finish(source.Get());
  }

  bool LoadFile(const std::string& path) {
    if (!Create()) return false;
    // The path comes from the system's 8-bit calls (the module path).
    const std::wstring wide = Widen(path, CP_ACP);
    if (wide.empty()) return false;
    Variant source;
    source.Get().vt = VT_BSTR;
    source.Get().bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (source.Get().bstrVal == nullptr) return false;
    return Finish(source.Get());
  }

  bool Select(const std::string& path, bool firstOnly, std::vector<XmlNode>& matches) const override {
    matches.clear();
    if (!m_document) return false;
    const std::wstring widePath = Widen(path, CP_UTF8);
    if (widePath.empty()) return false;
    Bstr query(widePath);
    if (firstOnly) {
      ComPtr<IXMLDOMNode> node;
      const HRESULT result = m_document->selectSingleNode(query.Get(), node.Out());
      if (FAILED(result)) return false;
      if (result == S_OK && node) matches.push_back(Describe(node));
      return true;
    }
    ComPtr<IXMLDOMNodeList> list;
    if (FAILED(m_document->selectNodes(query.Get(), list.Out())) || !list) return false;
    for (;;) {
      ComPtr<IXMLDOMNode> node;
      if (list->nextNode(node.Out()) != S_OK || !node) break;
      matches.push_back(Describe(node));
    }
    return true;
  }

 private:
  bool Finish(VARIANT& source) {
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(m_document->load(source, &loaded)) || loaded != VARIANT_TRUE) return false;
    // MSXML 3.0 selects with XSL patterns unless told otherwise.
    Bstr property(L"SelectionLanguage");
    Variant language;
    language.Get().vt = VT_BSTR;
    language.Get().bstrVal = SysAllocString(L"XPath");
    if (language.Get().bstrVal == nullptr) return false;
    if (FAILED(m_document->setProperty(property.Get(), language.Get()))) return false;
    // A document has one root element; MSXML refuses anything else.
    ComPtr<IXMLDOMElement> root;
    return m_document->get_documentElement(root.Out()) == S_OK && root;
  }

  XmlNode Describe(const ComPtr<IXMLDOMNode>& node) const {
    XmlNode result;
    Bstr name;
    if (SUCCEEDED(node->get_nodeName(name.Out()))) result.name = Narrow(name.Get());
    DOMNodeType type = NODE_INVALID;
    node->get_nodeType(&type);
    if (type == NODE_ATTRIBUTE) {
      result.firstChildValue = NodeValue(node.Get());
      result.hasFirstChild = !result.firstChildValue.empty();
      return result;
    }
    result.isElement = type == NODE_ELEMENT;
    ComPtr<IXMLDOMNode> child;
    if (node->get_firstChild(child.Out()) == S_OK && child) {
      result.hasFirstChild = true;
      result.firstChildValue = NodeValue(child.Get());
    }
    result.ref = std::make_shared<XmlNodeRef>(XmlNodeRef{node, shared_from_this()});
    return result;
  }

  ComApartment m_apartment;  // first in, last out
  ComPtr<IXMLDOMDocument2> m_document;
};

template <typename Loader>
std::shared_ptr<const XmlDocument> Make(Loader load) {
  try {
    auto document = std::make_shared<MsxmlDocument>();
    if (!load(*document)) return nullptr;
    return document;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

std::shared_ptr<const XmlDocument> XmlDocument::Parse(const char* data, std::size_t size) {
  return Make([&](MsxmlDocument& document) { return document.Load(data, size); });
}

std::shared_ptr<const XmlDocument> XmlDocument::ParseFile(const std::string& path) {
  return Make([&](MsxmlDocument& document) { return document.LoadFile(path); });
}

std::string AttributeOf(const XmlNodeRef& node, const std::string& name) {
  try {
    if (!node.node) return std::string();
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    if (node.node->get_attributes(attributes.Out()) != S_OK || !attributes) return std::string();
    const std::wstring wideName = Widen(name, CP_UTF8);
    if (wideName.empty()) return std::string();
    Bstr key(wideName);
    ComPtr<IXMLDOMNode> attribute;
    if (attributes->getNamedItem(key.Get(), attribute.Out()) != S_OK || !attribute) {
      return std::string();
    }
    return NodeValue(attribute.Get());
  } catch (...) {
    return std::string();
  }
}

}  // namespace platform
}  // namespace quorvel
