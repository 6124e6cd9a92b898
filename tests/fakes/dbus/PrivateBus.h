#pragma once

#include <QDBusConnection>
#include <QString>

#include <string>
#include <sys/types.h>

namespace tarn::test {

// A dbus-daemon of our own on a socket in a temporary folder, for one test: nothing of the
// desktop's buses is touched. The daemon is stopped by its pid in the destructor.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // dbus-daemon is installed.
    static bool available();
    const std::string& address() const { return m_address; }
    // A new connection of this process to the bus under its own name.
    QDBusConnection connect(const QString& name) const;

private:
    std::string m_dir;
    std::string m_address;
    pid_t m_pid = -1;
};

} // namespace tarn::test

// In a test body: skips without dbus-daemon, fails under CI=true.
#define TARN_REQUIRE_DBUS()                                                                        \
    do {                                                                                           \
        if (!::tarn::test::PrivateBus::available()) {                                              \
            const char* ci = std::getenv("CI");                                                    \
            if (ci && std::string(ci) == "true")                                                   \
                FAIL() << "dbus-daemon is not installed";                                          \
            GTEST_SKIP() << "dbus-daemon is not installed";                                        \
        }                                                                                          \
    } while (0)
