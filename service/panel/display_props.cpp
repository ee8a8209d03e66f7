// DisplayProps.xml: the element lookups over the parsed document. The parsing itself is the
// platform's (xml_loader_*); everything from the document element on is shared.
#include "service/panel/display_props.h"

#include <new>
#include <optional>

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
bool StoreDimming(const ElementCursor& display, DimmingConfig& dimming);

// Reads the nine properties in their fixed order, then the optional dimming rules; false when
// those are malformed.
bool StoreProperties(const XmlNode& root, PanelConfig& config) {
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
    return StoreDimming(display, config.dimming);
}

// A whole decimal number from `low` to `high` (white space around it allowed); nothing else.
std::optional<std::uint32_t> WholeNumber(const std::string& raw, std::uint32_t low,
                                         std::uint32_t high) {
    const std::string text = TrimXmlSpace(raw);
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

// "H:MM" or "HH:MM", 00:00 to 23:59, as milliseconds since midnight.
std::optional<std::uint32_t> TimeOfDay(const std::string& raw) {
    const std::string text = TrimXmlSpace(raw);
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 2 || text.size() != colon + 3) {
        return std::nullopt;
    }
    const auto hours = WholeNumber(text.substr(0, colon), 0, 23);
    const auto minutes = WholeNumber(text.substr(colon + 1), 0, 59);
    if (!hours || !minutes) return std::nullopt;
    return (*hours * 60 + *minutes) * 60 * 1000;
}

// The optional Dimming element under Display. False when any of its values is malformed, or a
// rule names only part of what it needs (a time without a level, a level without a time).
bool StoreDimming(const ElementCursor& display, DimmingConfig& dimming) {
    const ElementCursor element = display.FindChildElement("Dimming");
    dimming = DimmingConfig();
    if (element.IsEmpty()) return true;
    auto given = [&element](const char* name) { return !element.FindChildElement(name).IsEmpty(); };
    auto text = [&element](const char* name) {
        return element.FindChildElement(name).ElementText();
    };
    auto level = [&text](const char* name, std::uint8_t& field) {
        const auto value = WholeNumber(text(name), 0, 255);
        if (value) field = static_cast<std::uint8_t>(*value);
        return value.has_value();
    };

    if (given("IdleAfterSeconds") || given("IdleBrightness")) {
        const auto seconds = WholeNumber(text("IdleAfterSeconds"), 1, 24 * 60 * 60);
        if (!seconds || !level("IdleBrightness", dimming.idleLevel)) return false;
        dimming.idle = true;
        dimming.idleAfterMs = *seconds * 1000;
    }
    if (given("VideoBrightness")) {
        if (!level("VideoBrightness", dimming.videoLevel)) return false;
        dimming.video = true;
    }
    if (given("NightFrom") || given("NightUntil") || given("NightBrightness")) {
        const auto from = TimeOfDay(text("NightFrom"));
        const auto until = TimeOfDay(text("NightUntil"));
        if (!from || !until || *from == *until || !level("NightBrightness", dimming.nightLevel)) {
            return false;
        }
        dimming.night = true;
        dimming.nightFromMs = *from;
        dimming.nightUntilMs = *until;
    }
    if (given("BlankInStandby")) {
        const std::string blank = TrimXmlSpace(text("BlankInStandby"));
        if (blank != "True" && blank != "False") return false;
        dimming.blankInStandby = blank == "True";
    }
    return true;
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
        if (!StoreProperties(root, read)) return kErrorFileNotFound;
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
