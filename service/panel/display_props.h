// DisplayProps.xml: the panel's ids, size, kind and brightness, read once at start-up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "service/panel/panel_config.h"

namespace zelk {

// A parsed document as the lookups need it: elements with their tag names, typed-value texts
// and children in document order; other nodes (text, comments, processing instructions) are
// kept as non-elements so that they are passed over like the DOM's.
struct XmlNode {
    bool isElement = false;
    std::string tagName;
    bool hasStringValue = true;  // false when the element declares a non-string data type
    // The element's own text (its typed value when that is a string); the text of elements
    // inside it is theirs only.
    std::string text;
    std::vector<XmlNode> children;
};

// The largest DisplayProps.xml the loaders read; a longer file is not loaded.
inline constexpr std::uint64_t kMaxDisplayPropsBytes = 1u << 20;

enum class XmlLoadStatus {
    kLoaded,
    kNotLoaded,     // missing or not well-formed
    kCannotCreate,  // the parser / DOM object could not be created
    kCallFailed,    // the load call itself failed; `error` holds the system error
};

class XmlLoader {
  public:
    virtual ~XmlLoader() = default;
    // Loads `path` completely; on kLoaded `root` is the document element. A file longer than
    // kMaxDisplayPropsBytes is kNotLoaded, read no further.
    virtual XmlLoadStatus Load(const std::string& path, XmlNode& root, std::uint32_t& error) = 0;
};

// `text` without the XML white space (blank, tab, CR, LF) at its ends.
std::string TrimXmlSpace(const std::string& text);

// MSXML's DOMDocument on Windows, expat (no DTDs, no external entities) elsewhere.
std::unique_ptr<XmlLoader> CreateSystemXmlLoader();

// The path of DisplayProps.xml beside the running executable; empty when it does not fit.
std::string DefaultDisplayPropsPath();

// Reads the nine properties and the optional dimming rules (Display/Dimming) from the file at
// `path` into `config`. Returns 0, or 2 when the file cannot be loaded (missing, malformed or
// longer than kMaxDisplayPropsBytes, no parser, a failed load call, memory running out, or an
// empty path) or its dimming rules are malformed; then `config` is left as it was. A named
// value ("True", "Graphic", ...) that the file does not give exactly keeps what `config` held; a
// number the file does not give becomes 0.
std::uint32_t ReadDisplayProps(const std::string& path, XmlLoader& loader, PanelConfig& config);

}  // namespace zelk
