// The text converter over glibc's iconv. A character the destination code page lacks becomes
// '?' and the conversion goes on; no look-alike is ever substituted.
#include <iconv.h>

#include <cerrno>
#include <string>

#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/adapters/text_converter.h"
#include "service/adapters/text_converter_detail.h"

namespace zelk {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

std::string IconvName(std::uint32_t codePage) {
    switch (codePage) {
        case kCodePageUtf16:
            return "UTF-16LE";
        case 1201:
            return "UTF-16BE";
        case 65001:
            return "UTF-8";
        default:
            return "CP" + std::to_string(codePage);
    }
}

// Bytes to skip in the source past a character that cannot be converted.
std::size_t SourceUnit(std::uint32_t codePage) {
    return codePage == kCodePageUtf16 || codePage == 1201 ? 2 : 1;
}

class IconvTextConverter final : public TextConverter {
  public:
    ~IconvTextConverter() override { Reset(); }

    HResult Open() override {
        MutexLock guard(lock_);
        opened_ = true;
        return kSOk;
    }

    HResult SetCodePages(std::uint32_t source, std::uint32_t destination,
                         std::uint32_t /*flags*/) override {
        MutexLock guard(lock_);
        if (!opened_) {
            return kEPointer;
        }
        Reset();
        const std::string to = IconvName(destination);
        iconv_t converter = iconv_open(to.c_str(), IconvName(source).c_str());
        if (converter == kNoConverter) {
            return kEInvalidArg;
        }
        // The replacement character in the destination's own encoding.
        iconv_t ascii = iconv_open(to.c_str(), "ASCII");
        if (ascii == kNoConverter) {
            iconv_close(converter);
            return kEInvalidArg;
        }
        char question = '?';
        char* in = &question;
        std::size_t inLeft = 1;
        char* out = replacement_;
        std::size_t outLeft = sizeof replacement_;
        const std::size_t done = iconv(ascii, &in, &inLeft, &out, &outLeft);
        iconv_close(ascii);
        if (done == static_cast<std::size_t>(-1)) {
            iconv_close(converter);
            return kEInvalidArg;
        }
        replacementLength_ = sizeof replacement_ - outLeft;
        converter_ = converter;
        sourceUnit_ = SourceUnit(source);
        return kSOk;
    }

    HResult Convert(const char* source, std::uint32_t& sourceLength, char* destination,
                    std::uint32_t& destinationCapacity) override {
        HResult result = kSOk;
        if (detail::RejectOrFinishEarly(source, sourceLength, destination, destinationCapacity,
                                        result)) {
            return result;
        }
        MutexLock guard(lock_);
        if (converter_ == kNoConverter) {
            return detail::CopyUnconverted(source, sourceLength, destination, destinationCapacity);
        }
        iconv(converter_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(source);
        std::size_t inLeft = sourceLength;
        char* out = destination;
        std::size_t outLeft = destinationCapacity;
        result = kSOk;
        while (inLeft > 0) {
            if (iconv(converter_, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) {
                break;
            }
            if (errno == E2BIG) {
                result = detail::kEInsufficientBuffer;
                break;
            }
            // EILSEQ (no such character on one side) or EINVAL (a character cut off at the
            // end): put the replacement in its place and go on after it.
            if (outLeft < replacementLength_) {
                result = detail::kEInsufficientBuffer;
                break;
            }
            for (std::size_t i = 0; i < replacementLength_; ++i) {
                *out++ = replacement_[i];
            }
            outLeft -= replacementLength_;
            const std::size_t skip = inLeft < sourceUnit_ ? inLeft : sourceUnit_;
            in += skip;
            inLeft -= skip;
        }
        sourceLength -= static_cast<std::uint32_t>(inLeft);
        destinationCapacity -= static_cast<std::uint32_t>(outLeft);
        return result;
    }

  private:
    void Reset() REQUIRES(lock_) {
        if (converter_ != kNoConverter) {
            iconv_close(converter_);
            converter_ = kNoConverter;
        }
    }

    Mutex lock_;
    bool opened_ GUARDED_BY(lock_) = false;
    iconv_t converter_ GUARDED_BY(lock_) = kNoConverter;
    std::size_t sourceUnit_ GUARDED_BY(lock_) = 1;
    char replacement_[4] GUARDED_BY(lock_) = {};
    std::size_t replacementLength_ GUARDED_BY(lock_) = 0;
};

}  // namespace

std::unique_ptr<TextConverter> CreateSystemTextConverter() {
    return std::make_unique<IconvTextConverter>();
}

}  // namespace zelk
