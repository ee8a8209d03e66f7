#include "service/core/version.h"

namespace zelk {

const char* ProductVersion() {
    return "1.0.0";
}

}  // namespace zelk
