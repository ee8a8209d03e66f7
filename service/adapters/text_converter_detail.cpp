#include "service/adapters/text_converter_detail.h"

#include <algorithm>
#include <cstring>

#include "service/adapters/text_converter.h"

namespace zelk {
namespace detail {

HResult CopyUnconverted(const char* source, std::uint32_t& sourceLength, char* destination,
                        std::uint32_t& destinationCapacity) {
    const std::uint32_t count = std::min(sourceLength, destinationCapacity);
    if (count > 0) {
        std::memcpy(destination, source, count);
    }
    sourceLength = count;
    destinationCapacity = count;
    return kSFalse;
}

bool RejectOrFinishEarly(const char* source, std::uint32_t& sourceLength, char* destination,
                         std::uint32_t& destinationCapacity, HResult& result) {
    if ((source == nullptr && sourceLength > 0) ||
        (destination == nullptr && destinationCapacity > 0)) {
        result = kEPointer;
    } else if (sourceLength == 0) {
        result = kSOk;
    } else if (destinationCapacity == 0) {
        result = kEInsufficientBuffer;
    } else {
        return false;
    }
    sourceLength = 0;
    destinationCapacity = 0;
    return true;
}

}  // namespace detail

namespace {

class CopyingTextConverter final : public TextConverter {
  public:
    HResult Open() override { return kSOk; }
    HResult SetCodePages(std::uint32_t, std::uint32_t, std::uint32_t) override { return kSOk; }
    HResult Convert(const char* source, std::uint32_t& sourceLength, char* destination,
                    std::uint32_t& destinationCapacity) override {
        return detail::CopyUnconverted(source, sourceLength, destination, destinationCapacity);
    }
};

}  // namespace

std::unique_ptr<TextConverter> CreateCopyingTextConverter() {
    return std::make_unique<CopyingTextConverter>();
}

}  // namespace zelk
