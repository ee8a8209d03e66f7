// Whether the test runs under Wine, whose stand-ins for some system services differ from
// Windows in known ways. Always false natively.
#pragma once

namespace zelk::test {

bool RunningUnderWine();

}  // namespace zelk::test
