// DisplayProps.xml read with expat, and the file's place beside the running executable.
//
// The tree follows what MSXML's DOM gives the lookups:
// - tag names are the qualified names as written ("prefix:local" or "local"), in UTF-8;
// - an element's text is its own character data (text and CDATA sections directly inside it),
//   in document order, with leading and trailing white space removed, as MSXML's typed value
//   of an element without a data type reads with white space not preserved;
// - an element carrying a data type other than "string" (the attribute "dt" of the namespace
//   urn:schemas-microsoft-com:datatypes) has no string value; one declared as "string" keeps
//   its text with the white space around it;
// - text, comments and processing instructions are kept as non-element children (white-space
//   text included, which MSXML drops; the lookups pass over every non-element alike).
// Only the texts of elements that hold other elements differ from MSXML's (they leave out the
// inner elements' text, so a document costs memory in proportion to its size, not its size
// times its depth); property elements hold text only.
// The file is read whole (at most kMaxDisplayPropsBytes) and parsed in one call.
// A document type declaration is read past; a document that declares an entity (general or
// parameter) is refused as not loaded, so no entity is ever expanded or fetched, nor is an
// external DTD; so is a document nested deeper than kMaxDepth.
#include <expat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/debug_print.h"
#include "common/win_codes.h"
#include "service/panel/display_props.h"
#include "service/panel/xml_entity_scan.h"

namespace zelk {
namespace {

constexpr char kNamespaceSeparator = '\x01';
constexpr const char* kDataTypesNamespace = "urn:schemas-microsoft-com:datatypes";
constexpr std::size_t kMaxDepth = 256;

// Splits expat's "uri<sep>local<sep>prefix" (parts after the local name are optional).
struct QualifiedName {
    std::string uri;
    std::string local;
    std::string prefix;
};

QualifiedName SplitName(const char* name) {
    QualifiedName result;
    const char* first = std::strchr(name, kNamespaceSeparator);
    if (first == nullptr) {
        result.local = name;
        return result;
    }
    result.uri.assign(name, first);
    const char* local = first + 1;
    const char* second = std::strchr(local, kNamespaceSeparator);
    if (second == nullptr) {
        result.local = local;
    } else {
        result.local.assign(local, second);
        result.prefix = second + 1;
    }
    return result;
}

// The characters 0x80 to 0x9F of code page 1252 (the others are those of ISO 8859-1). The
// five bytes 1252 leaves undefined map to the control characters of the same value.
constexpr int kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsWindows1252Name(const XML_Char* name) {
    static constexpr const char* kNames[] = {"windows-1252", "cp1252"};
    for (const char* candidate : kNames) {
        std::size_t i = 0;
        for (; candidate[i] != '\0' && name[i] != '\0'; ++i) {
            char c = name[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != candidate[i]) break;
        }
        if (candidate[i] == '\0' && name[i] == '\0') return true;
    }
    return false;
}

// Lets a file that declares the Windows code page (as files written on Windows often do) load
// as MSXML loads it; expat knows only UTF-8, UTF-16, ISO 8859-1 and US-ASCII by itself.
int XMLCALL OnUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    if (!IsWindows1252Name(name)) return XML_STATUS_ERROR;
    for (int byte = 0; byte < 256; ++byte) {
        info->map[byte] = (byte >= 0x80 && byte < 0xA0) ? kWindows1252High[byte - 0x80] : byte;
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

class TreeBuilder {
  public:
    explicit TreeBuilder(XML_Parser parser) : parser_(parser) {}

    bool refused() const { return refused_; }
    XmlNode& document() { return document_; }

    // No exception may cross expat's C frames: running out of memory in a handler stops the
    // parse and refuses the document.
    template <typename Step>
    static void Guarded(void* data, Step&& step) {
        auto* builder = static_cast<TreeBuilder*>(data);
        try {
            step(*builder);
        } catch (const std::bad_alloc&) {
            builder->Refuse();
        }
    }

    static void XMLCALL OnStartElement(void* data, const XML_Char* name, const XML_Char** atts) {
        Guarded(data, [&](TreeBuilder& b) { b.StartElement(name, atts); });
    }
    static void XMLCALL OnEndElement(void* data, const XML_Char*) {
        Guarded(data, [](TreeBuilder& b) { b.EndElement(); });
    }
    static void XMLCALL OnCharacters(void* data, const XML_Char* text, int length) {
        Guarded(data, [&](TreeBuilder& b) { b.Characters(text, length); });
    }
    static void XMLCALL OnComment(void* data, const XML_Char*) {
        Guarded(data, [](TreeBuilder& b) { b.AddOther(); });
    }
    static void XMLCALL OnProcessingInstruction(void* data, const XML_Char*, const XML_Char*) {
        Guarded(data, [](TreeBuilder& b) { b.AddOther(); });
    }
    static void XMLCALL OnEntityDeclaration(void* data, const XML_Char*, int, const XML_Char*, int,
                                            const XML_Char*, const XML_Char*, const XML_Char*,
                                            const XML_Char*) {
        static_cast<TreeBuilder*>(data)->Refuse();
    }
    static int XMLCALL OnExternalEntity(XML_Parser, const XML_Char*, const XML_Char*,
                                        const XML_Char*, const XML_Char*) {
        return XML_STATUS_ERROR;  // never fetched
    }

    // Gives every element its own text: the character data of its direct text children, in
    // document order, without recursion. The text children give theirs up.
    void FinishTexts() {
        std::size_t elementIndex = 0;  // document order, as declaredString_ was filled
        std::vector<XmlNode*> pending{&document_};
        while (!pending.empty()) {
            XmlNode* node = pending.back();
            pending.pop_back();
            const std::size_t index = elementIndex++;
            const bool keepSpace = index < declaredString_.size() && declaredString_[index];
            std::string content;
            for (XmlNode& child : node->children) {
                if (!child.isElement) {
                    content += child.text;  // empty for comments and PIs
                    std::string().swap(child.text);
                }
            }
            if (node->hasStringValue)
                node->text = keepSpace ? std::move(content) : TrimXmlSpace(content);
            // Children go on in reverse so that they come off in document order.
            for (auto child = node->children.rbegin(); child != node->children.rend(); ++child) {
                if (child->isElement) pending.push_back(&*child);
            }
        }
    }

  private:
    void StartElement(const XML_Char* name, const XML_Char** atts) {
        if (refused_) return;
        if (open_.size() >= kMaxDepth) {
            Refuse();
            return;
        }
        XmlNode element;
        element.isElement = true;
        const QualifiedName qualified = SplitName(name);
        element.tagName =
            qualified.prefix.empty() ? qualified.local : qualified.prefix + ":" + qualified.local;
        bool declaredString = false;
        for (const XML_Char** att = atts; att[0] != nullptr; att += 2) {
            const QualifiedName attribute = SplitName(att[0]);
            if (attribute.uri == kDataTypesNamespace && attribute.local == "dt") {
                declaredString = std::strcmp(att[1], "string") == 0;
                element.hasStringValue = declaredString;
            }
        }
        declaredString_.push_back(declaredString);
        XmlNode* parent = open_.empty() ? nullptr : open_.back();
        if (parent == nullptr) {
            document_ = std::move(element);
            open_.push_back(&document_);
        } else {
            parent->children.push_back(std::move(element));
            open_.push_back(&parent->children.back());
        }
        lastWasText_ = false;
    }

    void EndElement() {
        if (refused_ || open_.empty()) return;
        open_.pop_back();
        lastWasText_ = false;
    }

    void Characters(const XML_Char* text, int length) {
        if (refused_ || open_.empty() || length <= 0) return;
        std::vector<XmlNode>& siblings = open_.back()->children;
        // expat hands one run of text over in pieces; the DOM holds it as one text node.
        if (!lastWasText_) {
            XmlNode node;
            node.isElement = false;
            siblings.push_back(std::move(node));
            lastWasText_ = true;
        }
        siblings.back().text.append(text, static_cast<std::size_t>(length));
    }

    void AddOther() {
        if (refused_ || open_.empty()) return;  // outside the document element: not kept
        XmlNode node;
        node.isElement = false;
        open_.back()->children.push_back(std::move(node));
        lastWasText_ = false;
    }

    void Refuse() {
        if (refused_) return;
        refused_ = true;
        XML_StopParser(parser_, XML_FALSE);
    }

    XML_Parser parser_;
    XmlNode document_;
    std::vector<XmlNode*> open_;
    bool lastWasText_ = false;
    bool refused_ = false;
    std::vector<bool> declaredString_;  // per element in document order
};

class ExpatXmlLoader final : public XmlLoader {
  public:
    XmlLoadStatus Load(const std::string& path, XmlNode& root, std::uint32_t& error) override {
        error = 0;
        std::string text;
        const XmlLoadStatus read = ReadWhole(path, text, error);
        if (read != XmlLoadStatus::kLoaded) return read;
        // The rule both loaders share; the parser's entity handler below refuses as well.
        if (DeclaresEntity(text)) return XmlLoadStatus::kNotLoaded;
        return Parse(text, root);
    }

  private:
    // The whole file, refused unread past kMaxDisplayPropsBytes.
    static XmlLoadStatus ReadWhole(const std::string& path, std::string& text,
                                   std::uint32_t& error) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) return XmlLoadStatus::kNotLoaded;
        XmlLoadStatus status = XmlLoadStatus::kLoaded;
        // In pieces, so that memory follows the file's size; one byte past the limit is enough
        // to refuse it.
        char piece[65536];
        for (;;) {
            const std::size_t count = std::fread(piece, 1, sizeof piece, file);
            text.append(piece,
                        std::min<std::size_t>(count, kMaxDisplayPropsBytes + 1 - text.size()));
            if (text.size() > kMaxDisplayPropsBytes) {
                status = XmlLoadStatus::kNotLoaded;
                break;
            }
            if (count < sizeof piece) {
                if (std::ferror(file)) {
                    const int failure = errno;
                    error = failure != 0 ? static_cast<std::uint32_t>(failure) : kErrorGenFailure;
                    DebugPrint("Reading %s failed: errno %d (%s), error %u.\n", path.c_str(),
                               failure, std::strerror(failure), static_cast<unsigned>(error));
                    status = XmlLoadStatus::kCallFailed;
                }
                break;
            }
        }
        std::fclose(file);
        return status;
    }

    // Parses the text in one call.
    static XmlLoadStatus Parse(const std::string& text, XmlNode& root) {
        XML_Parser parser = XML_ParserCreateNS(nullptr, kNamespaceSeparator);
        if (parser == nullptr) return XmlLoadStatus::kCannotCreate;
        const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> owner(parser,
                                                                            &XML_ParserFree);
        XML_SetReturnNSTriplet(parser, XML_TRUE);
        XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);

        TreeBuilder builder(parser);
        XML_SetUserData(parser, &builder);
        XML_SetElementHandler(parser, &TreeBuilder::OnStartElement, &TreeBuilder::OnEndElement);
        XML_SetCharacterDataHandler(parser, &TreeBuilder::OnCharacters);
        XML_SetCommentHandler(parser, &TreeBuilder::OnComment);
        XML_SetProcessingInstructionHandler(parser, &TreeBuilder::OnProcessingInstruction);
        XML_SetEntityDeclHandler(parser, &TreeBuilder::OnEntityDeclaration);
        XML_SetExternalEntityRefHandler(parser, &TreeBuilder::OnExternalEntity);
        XML_SetUnknownEncodingHandler(parser, &OnUnknownEncoding, nullptr);

        XmlLoadStatus status = XmlLoadStatus::kLoaded;
        if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) !=
            XML_STATUS_OK) {
            status = XmlLoadStatus::kNotLoaded;
        }
        if (builder.refused()) status = XmlLoadStatus::kNotLoaded;
        if (status == XmlLoadStatus::kLoaded) {
            builder.FinishTexts();
            root = std::move(builder.document());
        }
        return status;
    }
};

}  // namespace

std::unique_ptr<XmlLoader> CreateSystemXmlLoader() {
    return std::make_unique<ExpatXmlLoader>();
}

std::string DefaultDisplayPropsPath() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return std::string();
        if (static_cast<std::size_t>(length) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(length));
            const std::size_t slash = path.rfind('/');
            if (slash == std::string::npos) return std::string();
            path.resize(slash);
            return path + "/DisplayProps.xml";
        }
        if (buffer.size() >= 65536) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace zelk
