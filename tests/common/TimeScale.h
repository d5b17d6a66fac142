#pragma once
// How much longer the suites' own deadlines are on a slower build. CTest
// passes K410_TIME_SCALE from the cache variable K410_TEST_TIME_SCALE, which
// also stretches each suite's CTest and QtTest limits (tests/CMakeLists.txt);
// the sanitized build sets 3. Only the time a wait gives up after is scaled,
// never a time something must take.

#include <QtGlobal>

namespace testutil {

/// K410_TIME_SCALE as a whole number; 1 when unset or not one.
inline int timeScale()
{
    bool ok = false;
    const int scale = qEnvironmentVariableIntValue("K410_TIME_SCALE", &ok);
    return ok && scale > 0 ? scale : 1;
}

/// `ms` milliseconds, stretched by the time scale.
inline int scaledMs(int ms)
{
    return ms * timeScale();
}

} // namespace testutil
