#pragma once

namespace zelk {

// The product version shown by the tools.
const char* ProductVersion();

}  // namespace zelk
