#include "service/core/version.h"

#include "fp_version.h"

#define FP_TEXT(x) #x
#define FP_VERSION_DOTTED(major, minor, patch) FP_TEXT(major) "." FP_TEXT(minor) "." FP_TEXT(patch)

namespace zelk {

const char* ProductVersion() {
    return FP_VERSION_DOTTED(FP_VERSION_MAJOR, FP_VERSION_MINOR, FP_VERSION_PATCH);
}

}  // namespace zelk
