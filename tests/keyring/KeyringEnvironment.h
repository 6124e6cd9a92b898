#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tarn::test {

// A private session bus for one test process, with either a real gnome-keyring-daemon
// (unlocked with a password of the test's own), a Secret Service that never answers, or no
// Secret Service at all. The process's DBUS_SESSION_BUS_ADDRESS points at it, so it must be
// made before anything in the process talks to a session bus. Every child is stopped by its
// pid when the environment ends.
class KeyringEnvironment {
public:
    enum class Service { None, GnomeKeyring, Silent };

    explicit KeyringEnvironment(Service service);
    ~KeyringEnvironment();
    KeyringEnvironment(const KeyringEnvironment&) = delete;
    KeyringEnvironment& operator=(const KeyringEnvironment&) = delete;

    // dbus-daemon and gnome-keyring-daemon are installed.
    static bool available();
    const std::string& busAddress() const { return m_address; }
    // `secret-tool search --all` for the attributes "folder" = folder, on this bus.
    std::string searchItems(const std::string& folder) const;

private:
    pid_t spawn(const std::vector<std::string>& argv, const std::string& input, bool waitForLine,
                std::string* line);

    std::string m_dir;
    std::string m_address;
    pid_t m_bus = -1;
    pid_t m_service = -1;
    // This process's shared connection to the private bus (a GDBusConnection), held so that
    // it outlives the bus without ending the process.
    void* m_connection = nullptr;
};

} // namespace tarn::test
