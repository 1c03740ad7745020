// Gives every test binary the build's folders in its environment, whether CTest or a developer
// starts it: KAVANTI_STAGE (the staged install prefix), KAVANTI_RESOURCES, KAVANTI_SOURCE.
#include <cstdlib>

namespace {
struct TestEnv {
    TestEnv()
    {
        setenv("KAVANTI_STAGE", KAVANTI_TEST_STAGE, 0);
        setenv("KAVANTI_RESOURCES", KAVANTI_TEST_RESOURCES, 0);
        setenv("KAVANTI_SOURCE", KAVANTI_TEST_SOURCE, 0);
    }
} gTestEnv;
} // namespace
