// Linked into every test program: marks the process (and every program it starts) as a test
// run, so the real power-off refuses to act, and keeps Qt off any real display.
#include <cstdlib>

namespace {

struct TestEnvironment {
    TestEnvironment() {
        setenv("TARN_TEST_RUN", "1", 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
};

const TestEnvironment environment;

} // namespace
