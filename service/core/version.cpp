#include "service/core/version.h"

#include "fp_version.h"

#define FP_TEXT_OF(x) #x
#define FP_TEXT(x) FP_TEXT_OF(x)

namespace zelk {

const char* ProductVersion() {
    return FP_TEXT(FP_VERSION_MAJOR) "." FP_TEXT(FP_VERSION_MINOR) "." FP_TEXT(FP_VERSION_PATCH);
}

}  // namespace zelk
