// The entity declaration scan: the prolog is walked past the XML declaration, processing
// instructions and comments to the document type; its internal subset is walked past comments,
// processing instructions and quoted literals, where only a markup declaration can start.
#include "service/panel/xml_entity_scan.h"

#include <cstddef>
#include <string>

namespace zelk {
namespace {

// The text with every character outside ASCII as one byte 0x80, which is no markup.
std::string FromUtf16(std::string_view bytes, bool bigEndian) {
    std::string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        const unsigned unit = bigEndian ? (first << 8 | second) : (second << 8 | first);
        text += unit < 0x80 ? static_cast<char>(unit) : '\x80';
    }
    return text;
}

class Scan {
  public:
    explicit Scan(std::string_view text) : text_(text) {}

    bool DeclaresEntity() {
        // The prolog: anything before the root element's start tag.
        for (;;) {
            pos_ = text_.find('<', pos_);
            if (pos_ == std::string_view::npos) return false;
            if (At("<?")) {
                if (!SkipPast("?>", 2)) return false;  // the parser refuses it
            } else if (At("<!--")) {
                if (!SkipPast("-->", 4)) return false;
            } else if (At("<!DOCTYPE")) {
                return DocumentTypeDeclaresEntity();
            } else {
                return false;  // the root element: no document type can follow
            }
        }
    }

  private:
    bool DocumentTypeDeclaresEntity() {
        pos_ += 9;
        // The name and external id, up to the internal subset or the end.
        for (; pos_ < text_.size(); ++pos_) {
            const char c = text_[pos_];
            if (c == '>') return false;
            if (c == '[') break;
            if ((c == '"' || c == '\'') && !SkipLiteral()) return true;
        }
        if (pos_ >= text_.size()) return true;
        ++pos_;
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == ']') return false;
            if (At("<!ENTITY")) return true;
            if (At("<!--")) {
                if (!SkipPast("-->", 4)) return true;
            } else if (At("<?")) {
                if (!SkipPast("?>", 2)) return true;
            } else if (c == '"' || c == '\'') {
                if (!SkipLiteral()) return true;
                ++pos_;
            } else {
                ++pos_;
            }
        }
        return true;
    }

    bool At(std::string_view word) const { return text_.substr(pos_, word.size()) == word; }
    // Moves past `end`, searched for after the `opening` characters at pos_.
    bool SkipPast(std::string_view end, std::size_t opening) {
        const std::size_t found = text_.find(end, pos_ + opening);
        if (found == std::string_view::npos) return false;
        pos_ = found + end.size();
        return true;
    }
    // From an opening quote to its closing one (pos_ is left on it).
    bool SkipLiteral() {
        const std::size_t close = text_.find(text_[pos_], pos_ + 1);
        if (close == std::string_view::npos) return false;
        pos_ = close;
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

bool DeclaresEntity(std::string_view bytes) {
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(bytes[0]);
        const auto b1 = static_cast<unsigned char>(bytes[1]);
        const bool little = (b0 == 0xFF && b1 == 0xFE) || (b0 == '<' && b1 == 0);
        const bool big = (b0 == 0xFE && b1 == 0xFF) || (b0 == 0 && b1 == '<');
        if (little || big) {
            const std::string text = FromUtf16(bytes, big);
            return Scan(text).DeclaresEntity();
        }
    }
    return Scan(bytes).DeclaresEntity();
}

}  // namespace zelk
