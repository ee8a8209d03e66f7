// The text converter over MLang: source code page to UTF-16, then UTF-16 to the destination.
#include <windows.h>
#include <mlang.h>
#include <objbase.h>

#include <cstring>
#include <memory>
#include <new>

#include "common/debug_print.h"
#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/adapters/text_converter.h"
#include "service/adapters/text_converter_detail.h"

// No import library defines these two interface ids.
extern "C" const IID IID_IMultiLanguage2 = {
    0xDCCFC164, 0x2B38, 0x11D2, {0xB7, 0xEC, 0x00, 0xC0, 0x4F, 0x8F, 0x5D, 0x9A}};
extern "C" const IID IID_IMLangConvertCharset = {
    0xD66D6F98, 0xCDAA, 0x11D0, {0xB8, 0x22, 0x00, 0xC0, 0x4F, 0xC9, 0xB3, 0x1F}};

namespace zelk {
namespace {

constexpr DWORD kMimeContfValid = 0x20000;  // MIMECONTF_VALID
constexpr LANGID kUsEnglish = 0x409;

template <typename T>
void ReleaseAndClear(T*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

class MLangTextConverter final : public TextConverter {
  public:
    ~MLangTextConverter() override {
        ReleaseConverters();
        ReleaseAndClear(toAnsi_);
        ReleaseAndClear(codePages_);
        ReleaseAndClear(multiLanguage_);
    }

    HResult Open() override {
        MutexLock guard(lock_);
        if (multiLanguage_ != nullptr) {
            return S_OK;
        }
        HRESULT hr = CoInitialize(nullptr);
        if (FAILED(hr)) {
            // The trace keeps its historical "%08LX"; wvsprintfA formats it, which the
            // compiler's printf checks do not know.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
            DebugPrint("Error initializing COM (0x%08LX)\n", hr);
#pragma GCC diagnostic pop
            return hr;
        }
        hr = CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_ALL, IID_IMultiLanguage2,
                              reinterpret_cast<void**>(&multiLanguage_));
        if (SUCCEEDED(hr)) {
            hr = multiLanguage_->EnumCodePages(kMimeContfValid, kUsEnglish, &codePages_);
        }
        if (multiLanguage_ != nullptr && codePages_ != nullptr) {
            hr = multiLanguage_->CreateConvertCharset(kCodePageUtf16, kCodePageWindowsLatin1, 0,
                                                      &toAnsi_);
            if (FAILED(hr)) {
                DebugPrint("Failed to load codepage 1252 converter.\n");
            }
            return hr;
        }
        DebugPrint("Error initializing MLang subsystem (0x%08lX)\n", hr);
        DebugPrint(
            "Error: Possible cause, MLANG.DLL not found on system. Must be running IE5 or "
            "newer\n");
        return hr;
    }

    HResult SetCodePages(std::uint32_t source, std::uint32_t destination,
                         std::uint32_t flags) override {
        MutexLock guard(lock_);
        if (multiLanguage_ == nullptr) {
            return E_POINTER;
        }
        // A failed call leaves no converters, so Convert copies rather than using stale ones.
        ReleaseConverters();
        IMLangConvertCharset* direct = nullptr;
        IMLangConvertCharset* toUnicode = nullptr;
        IMLangConvertCharset* fromUnicode = nullptr;
        HRESULT hr = multiLanguage_->CreateConvertCharset(source, destination, flags, &direct);
        if (SUCCEEDED(hr)) {
            hr = multiLanguage_->CreateConvertCharset(source, kCodePageUtf16, flags, &toUnicode);
        }
        if (SUCCEEDED(hr)) {
            hr = multiLanguage_->CreateConvertCharset(kCodePageUtf16, destination, flags,
                                                      &fromUnicode);
        }
        if (FAILED(hr)) {
            ReleaseAndClear(direct);
            ReleaseAndClear(toUnicode);
            ReleaseAndClear(fromUnicode);
            return hr;
        }
        direct_ = direct;
        toUnicode_ = toUnicode;
        fromUnicode_ = fromUnicode;
        return hr;
    }

    HResult Convert(const char* source, std::uint32_t& sourceLength, char* destination,
                    std::uint32_t& destinationCapacity) override {
        HResult result = S_OK;
        if (detail::RejectOrFinishEarly(source, sourceLength, destination, destinationCapacity,
                                        result)) {
            return result;
        }
        MutexLock guard(lock_);
        if (toUnicode_ == nullptr || fromUnicode_ == nullptr) {
            return detail::CopyUnconverted(source, sourceLength, destination, destinationCapacity);
        }
        Pass pass = RunPass(source, sourceLength, true);
        if (pass.output == nullptr) {
            sourceLength = 0;
            destinationCapacity = 0;
            return E_FAIL;
        }
        if (pass.written > destinationCapacity) {
            // MLang either fails outright or fills the destination in its own way when it is
            // too small. Convert in a scratch buffer instead and keep the longest source
            // prefix whose whole conversion fits.
            std::uint32_t fits = 0;
            std::uint32_t over = sourceLength;
            while (over - fits > 1) {
                const std::uint32_t middle = fits + (over - fits) / 2;
                const Pass probe = RunPass(source, middle, false);
                if (probe.output != nullptr && probe.written <= destinationCapacity) {
                    fits = middle;
                } else {
                    over = middle;
                }
            }
            pass = RunPass(source, fits, false);
            if (pass.output == nullptr || pass.written > destinationCapacity) {
                pass.written = 0;
                fits = 0;
            }
            pass.consumed = fits;
            pass.result = detail::kEInsufficientBuffer;
        }
        if (pass.written > 0) {
            std::memcpy(destination, pass.output.get(), pass.written);
        }
        sourceLength = pass.consumed;
        destinationCapacity = pass.written;
        return pass.result;
    }

  private:
    struct Pass {
        HRESULT result = S_OK;
        UINT consumed = 0;
        UINT written = 0;
        std::unique_ptr<char[]> output;  // null when memory ran out
    };

    // One conversion of `length` source bytes through the UTF-16 pivot into a scratch buffer
    // large enough for any destination code page. `report` traces the failures.
    Pass RunPass(const char* source, UINT length, bool report) REQUIRES(lock_) {
        Pass pass;
        if (length == 0) {
            pass.output.reset(new (std::nothrow) char[1]);
            return pass;
        }
        // Every byte of a single-byte source becomes one UTF-16 unit; half as much again
        // leaves room for the sources that need more.
        const UINT pivotCapacity = static_cast<UINT>((3ull * length) / 2);
        std::unique_ptr<WCHAR[]> pivot(new (std::nothrow) WCHAR[pivotCapacity]());
        if (pivot == nullptr) {
            if (report) {
                DebugPrint("Memory allocation failure for pivot buffer.");
            }
            return pass;
        }
        pass.consumed = length;
        UINT pivotCount = pivotCapacity;
        HRESULT hr = toUnicode_->DoConversionToUnicode(const_cast<CHAR*>(source), &pass.consumed,
                                                       pivot.get(), &pivotCount);
        if (FAILED(hr) && report) {
            DebugPrint(
                "Warning: DoConversionToUnicode internal conversion generated a failure code. "
                "Invalid input data or internal buffer to small?");
        }
        if (pivotCount > pivotCapacity) {
            pivotCount = pivotCapacity;
        }
        if (pass.consumed > length) {
            pass.consumed = length;
        }
        DWORD properties = 0;
        if (FAILED(toUnicode_->GetProperty(&properties))) {
            properties = 0;
        }
        // No code page needs more than four bytes for one UTF-16 unit, and escape sequences
        // of the stateful ones fit in the spare bytes.
        const UINT scratchCapacity = pivotCount * 4 + 16;
        pass.output.reset(new (std::nothrow) char[scratchCapacity]);
        if (pass.output == nullptr) {
            if (report) {
                DebugPrint("Memory allocation failure for pivot buffer.");
            }
            return pass;
        }
        UINT pivotUsed = pivotCount;
        pass.written = scratchCapacity;
        hr = fromUnicode_->DoConversionFromUnicode(pivot.get(), &pivotUsed, pass.output.get(),
                                                   &pass.written);
        if (FAILED(hr) && report) {
            DebugPrint(
                "Warning: DoConversionFromUnicode internal conversion generated a failure code. "
                "Fallback characters generated or internal buffer too small?");
        }
        if (pass.written > scratchCapacity) {
            pass.written = scratchCapacity;
        }
        if ((properties & kConvertAutoDetect) != 0 && direct_ != nullptr && report) {
            UINT codePage = 0;
            direct_->GetSourceCodePage(&codePage);
            DebugPrint("Warning: conversion used source code page %d.\n",
                       static_cast<int>(codePage));
        }
        pass.result = hr;
        return pass;
    }

    void ReleaseConverters() REQUIRES(lock_) {
        ReleaseAndClear(direct_);
        ReleaseAndClear(toUnicode_);
        ReleaseAndClear(fromUnicode_);
    }

    Mutex lock_;
    IMultiLanguage2* multiLanguage_ GUARDED_BY(lock_) = nullptr;
    IEnumCodePage* codePages_ GUARDED_BY(lock_) = nullptr;
    IMLangConvertCharset* toAnsi_ GUARDED_BY(lock_) = nullptr;
    IMLangConvertCharset* direct_ GUARDED_BY(lock_) = nullptr;
    IMLangConvertCharset* toUnicode_ GUARDED_BY(lock_) = nullptr;
    IMLangConvertCharset* fromUnicode_ GUARDED_BY(lock_) = nullptr;
};

}  // namespace

std::unique_ptr<TextConverter> CreateSystemTextConverter() {
    return std::make_unique<MLangTextConverter>();
}

}  // namespace zelk
