// DisplayProps.xml read with MSXML's DOMDocument through COM, and the file's place beside the
// running executable.
//
// The DOM is walked once into an XmlNode tree: tag names and texts become UTF-8; an element's
// text is its typed value when that is a string (VT_BSTR), otherwise it has no string value;
// an element that holds other elements keeps only its own text. A file longer than
// kMaxDisplayPropsBytes is not loaded.
// A document type without entity declarations is read past. A file whose document type declares
// an entity is refused as not loaded before the parser sees it (no entity is ever expanded or
// fetched), and again after the load should the parsed document type still list one; the text
// "<!ENTITY" anywhere else (a comment, a CDATA section) declares nothing. The document is loaded
// synchronously with external resolution and validation off.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <msxml2.h>

#include <string>

#include "service/panel/display_props.h"
#include "service/panel/xml_entity_scan.h"

namespace zelk {
namespace {

// The version-independent DOMDocument class (msxml2.h maps the name to a class no library
// defines) and IXMLDOMDocument2, which carries setProperty.
constexpr CLSID kClsidDomDocument = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

constexpr std::size_t kMaxDepth = 256;

// Releases one COM reference when it goes out of scope.
template <typename T>
class ComRef {
  public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put() {
        Reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    explicit operator bool() const { return p_ != nullptr; }
    void Reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }

  private:
    T* p_ = nullptr;
};

class Bstr {
  public:
    explicit Bstr(const std::wstring& text) : b_(SysAllocStringLen(text.data(), text.size())) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return b_; }
    BSTR* put() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }

  private:
    BSTR b_ = nullptr;
};

std::string Utf8(const wchar_t* text, UINT length) {
    if (text == nullptr || length == 0) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), size, nullptr,
                        nullptr);
    return result;
}

std::string Utf8(BSTR text) {
    return Utf8(text, SysStringLen(text));
}

std::wstring Wide(const std::string& ansi) {
    if (ansi.empty()) return std::wstring();
    const int size =
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), result.data(), size);
    return result;
}

// Copies `node` (an element) and its descendants into `out`. False when the document is nested
// deeper than kMaxDepth or a DOM call fails.
bool ConvertElement(IXMLDOMNode* node, XmlNode& out, std::size_t depth) {
    if (depth >= kMaxDepth) return false;
    out.isElement = true;

    ComRef<IXMLDOMElement> element;
    if (FAILED(node->QueryInterface(IID_IXMLDOMElement, element.put_void())) || !element) {
        return false;
    }
    Bstr tagName;
    if (FAILED(element->get_tagName(tagName.put()))) return false;
    out.tagName = Utf8(tagName.get());

    ComRef<IXMLDOMNodeList> children;
    if (FAILED(node->get_childNodes(children.put())) || !children) return false;
    long length = 0;
    if (FAILED(children->get_length(&length))) return false;
    out.children.reserve(static_cast<std::size_t>(length > 0 ? length : 0));
    bool holdsElements = false;
    std::string ownText;
    for (long index = 0; index < length; ++index) {
        ComRef<IXMLDOMNode> child;
        if (FAILED(children->get_item(index, child.put())) || !child) return false;
        DOMNodeType type = NODE_INVALID;
        if (FAILED(child->get_nodeType(&type))) return false;
        XmlNode converted;
        if (type == NODE_ELEMENT) {
            if (!ConvertElement(child.get(), converted, depth + 1)) return false;
            holdsElements = true;
        } else {
            converted.isElement = false;
            if (type == NODE_TEXT || type == NODE_CDATA_SECTION) {
                Bstr text;
                if (SUCCEEDED(child->get_text(text.put()))) ownText += Utf8(text.get());
            }
        }
        out.children.push_back(std::move(converted));
    }

    // An element that holds others keeps its own text only: the DOM's typed value would repeat
    // every inner element's text in each of its ancestors.
    if (holdsElements) {
        out.hasStringValue = true;
        out.text = TrimXmlSpace(ownText);
        return true;
    }
    VARIANT value;
    VariantInit(&value);
    if (SUCCEEDED(element->get_nodeTypedValue(&value)) && value.vt == VT_BSTR) {
        out.hasStringValue = true;
        out.text = Utf8(value.bstrVal);
    } else {
        out.hasStringValue = false;
        out.text.clear();
    }
    VariantClear(&value);
    return true;
}

// COM for the calling thread for as long as the load runs; a thread that already has COM keeps
// it as it is.
class ComScope {
  public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    HRESULT hr_;
};

// Whether the file's document type declares an entity (see xml_entity_scan.h). An unreadable
// file is left to the parser, which reports it.
bool FileDeclaresEntity(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes;
    char chunk[8192];
    DWORD count = 0;
    while (bytes.size() <= kMaxDisplayPropsBytes &&
           ReadFile(file, chunk, sizeof chunk, &count, nullptr) && count > 0) {
        bytes.append(chunk, count);
    }
    CloseHandle(file);
    return DeclaresEntity(bytes);
}

class MsxmlLoader final : public XmlLoader {
  public:
    XmlLoadStatus Load(const std::string& path, XmlNode& root, std::uint32_t& error) override {
        error = 0;
        ComScope com;
        ComRef<IXMLDOMDocument> document;
        if (FAILED(CoCreateInstance(kClsidDomDocument, nullptr,
                                    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IXMLDOMDocument,
                                    document.put_void())) ||
            !document) {
            return XmlLoadStatus::kCannotCreate;
        }
        document->put_async(VARIANT_FALSE);
        document->put_validateOnParse(VARIANT_FALSE);
        document->put_resolveExternals(VARIANT_FALSE);
        {
            ComRef<IXMLDOMDocument2> document2;
            if (SUCCEEDED(document->QueryInterface(kIidXmlDomDocument2, document2.put_void())) &&
                document2) {
                Bstr name(L"ProhibitDTD");
                VARIANT on;
                VariantInit(&on);
                on.vt = VT_BOOL;
                on.boolVal = VARIANT_FALSE;
                document2->setProperty(name.get(), on);  // older parsers do not know it
            }
        }

        // A file past the limit is refused before the parser sees it.
        WIN32_FILE_ATTRIBUTE_DATA attributes{};
        if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes) &&
            ((static_cast<std::uint64_t>(attributes.nFileSizeHigh) << 32) |
             attributes.nFileSizeLow) > kMaxDisplayPropsBytes) {
            return XmlLoadStatus::kNotLoaded;
        }
        if (FileDeclaresEntity(path)) return XmlLoadStatus::kNotLoaded;
        Bstr file(Wide(path));
        if (file.get() == nullptr) return XmlLoadStatus::kNotLoaded;
        VARIANT source;
        VariantInit(&source);
        source.vt = VT_BSTR;
        source.bstrVal = file.get();  // still owned by `file`
        VARIANT_BOOL loaded = VARIANT_FALSE;
        SetLastError(0);
        const HRESULT hr = document->load(source, &loaded);
        if (FAILED(hr)) {
            const DWORD lastError = GetLastError();
            error = lastError != 0 ? lastError : static_cast<std::uint32_t>(hr);
            return XmlLoadStatus::kCallFailed;
        }
        if (loaded != VARIANT_TRUE) return XmlLoadStatus::kNotLoaded;

        ComRef<IXMLDOMDocumentType> doctype;
        if (SUCCEEDED(document->get_doctype(doctype.put())) && doctype) {
            // A parser that cannot list them (E_NOTIMPL) leaves the answer to the scan above.
            ComRef<IXMLDOMNamedNodeMap> entities;
            long count = 0;
            const HRESULT listed = doctype->get_entities(entities.put());
            if ((FAILED(listed) && listed != E_NOTIMPL) ||
                (entities && (FAILED(entities->get_length(&count)) || count != 0))) {
                return XmlLoadStatus::kNotLoaded;
            }
        }
        ComRef<IXMLDOMElement> documentElement;
        if (FAILED(document->get_documentElement(documentElement.put())) || !documentElement) {
            return XmlLoadStatus::kNotLoaded;
        }
        XmlNode converted;
        if (!ConvertElement(documentElement.get(), converted, 0)) return XmlLoadStatus::kNotLoaded;
        root = std::move(converted);
        return XmlLoadStatus::kLoaded;
    }
};

}  // namespace

std::unique_ptr<XmlLoader> CreateSystemXmlLoader() {
    return std::make_unique<MsxmlLoader>();
}

std::string DefaultDisplayPropsPath() {
    constexpr DWORD kPathSize = 256;
    constexpr char kFileName[] = "\\DisplayProps.xml";
    char path[kPathSize] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, kPathSize);
    if (length == 0 || length >= kPathSize) return std::string();  // failed or cut
    char* backslash = nullptr;
    for (char* p = path; *p != '\0'; ++p) {
        if (*p == '\\') backslash = p;
    }
    if (backslash == nullptr) return std::string();
    const std::size_t folderLength = static_cast<std::size_t>(backslash - path);
    if (folderLength + sizeof kFileName > kPathSize) return std::string();  // NUL included
    return std::string(path, folderLength) + kFileName;
}

}  // namespace zelk
