// DisplayProps.xml: the element lookups over the parsed document. The parsing itself is the
// platform's (xml_loader_*); everything from the document element on is shared.
#include "service/panel/display_props.h"

#include <new>

#include "common/win_codes.h"
#include "common/value_readers.h"

namespace zelk {
namespace {

// A position in the parsed document: the element it stands on (none for an empty cursor), the
// child list it was found in with its index there, and its own number of children. A cursor
// made directly on an element has no child list and index -1.
class ElementCursor {
  public:
    ElementCursor() = default;
    explicit ElementCursor(const XmlNode* element)
        : element_(element),
          childCount_(element != nullptr ? static_cast<int>(element->children.size()) : 0) {}

    bool IsEmpty() const { return element_ == nullptr; }

    // The first child element of this element whose tag name is exactly `name`, or an empty
    // cursor. Text, comments and processing instructions are passed over.
    ElementCursor FindChildElement(const char* name) const {
        if (element_ == nullptr) return ElementCursor();
        const std::vector<XmlNode>& children = element_->children;
        for (int index = 0; index < childCount_; ++index) {
            const XmlNode& child = children[static_cast<std::size_t>(index)];
            if (!child.isElement) continue;
            if (child.tagName == name) {
                ElementCursor found(&child);
                found.childList_ = &children;
                found.index_ = index;
                return found;
            }
        }
        return ElementCursor();
    }

    // The element's text when its typed value is a string; the empty text otherwise and for an
    // empty cursor.
    std::string ElementText() const {
        if (element_ == nullptr || !element_->hasStringValue) return std::string();
        return element_->text;
    }

  private:
    const XmlNode* element_ = nullptr;
    const std::vector<XmlNode>* childList_ = nullptr;
    int index_ = -1;
    int childCount_ = 0;
};

// Stores "Alphanumeric" / "Graphic" (exact) as 0 / 1; any other text leaves `field` alone.
void StoreDisplayType(const std::string& text, std::int32_t& field) {
    if (text == "Alphanumeric") {
        field = 0;
    } else if (text == "Graphic") {
        field = 1;
    }
}

// Stores "True" / "False" (exact); any other text leaves `field` alone.
void StoreTruth(const std::string& text, bool& field) {
    if (text == "True") {
        field = true;
    } else if (text == "False") {
        field = false;
    }
}

std::uint16_t Low16(std::int32_t value) {
    return static_cast<std::uint16_t>(value);
}

// Reads the nine properties in their fixed order. A missing Display element leaves every text
// empty: the numbers become 0, the named values keep what `config` holds.
void StoreProperties(const XmlNode& root, PanelConfig& config) {
    const ElementCursor display = ElementCursor(&root).FindChildElement("Display");
    auto text = [&display](const char* name) {
        return display.FindChildElement(name).ElementText();
    };

    config.vendorId = Low16(ReadHexInteger(text("VID").c_str()));
    config.productId = Low16(ReadHexInteger(text("PID").c_str()));
    StoreDisplayType(text("Type"), config.displayType);
    StoreTruth(text("ColorDisplay"), config.colorDisplay);
    StoreTruth(text("Scrolling"), config.scrolling);
    config.displayRows = static_cast<std::int16_t>(Low16(ReadInteger(text("DisplayRows").c_str())));
    config.displayColumns =
        static_cast<std::int16_t>(Low16(ReadInteger(text("DisplayColumns").c_str())));
    config.volumeControl = ReadInteger(text("VolumeControl").c_str());
    config.brightness = ReadInteger(text("Brightness").c_str());
}

}  // namespace

std::uint32_t ReadDisplayProps(const std::string& path, XmlLoader& loader, PanelConfig& config) {
    // An empty path is what DefaultDisplayPropsPath gives when the path does not fit.
    if (path.empty()) return kErrorFileNotFound;

    // Whatever keeps the document from being read (no parser, a failed load call, a missing,
    // malformed or over-long file, no memory for it) is the same to the caller: the properties
    // cannot be loaded. The service then reports it and stops rather than running on without
    // a panel. `config` changes only once the whole file is read.
    try {
        XmlNode root;
        std::uint32_t loadError = 0;
        if (loader.Load(path, root, loadError) != XmlLoadStatus::kLoaded) return kErrorFileNotFound;
        PanelConfig read = config;
        StoreProperties(root, read);
        config = read;
    } catch (const std::bad_alloc&) {
        return kErrorFileNotFound;
    }
    return kErrorSuccess;
}

std::string TrimXmlSpace(const std::string& text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isSpace(text[begin])) ++begin;
    while (end > begin && isSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

}  // namespace zelk
