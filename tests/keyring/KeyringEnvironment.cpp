#include "KeyringEnvironment.h"

#include "platform/keyring/SecretServiceStore.h"

#include <gio/gio.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tarn::test {

namespace {

const char* const kBusDaemon = "/usr/bin/dbus-daemon";
const char* const kKeyringDaemon = "/usr/bin/gnome-keyring-daemon";

void stop(pid_t& pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

} // namespace

bool KeyringEnvironment::available() {
    return ::access(kBusDaemon, X_OK) == 0 && ::access(kKeyringDaemon, X_OK) == 0;
}

pid_t KeyringEnvironment::spawn(const std::vector<std::string>& argv, const std::string& input,
                                bool waitForLine, std::string* line) {
    // The children get an environment of their own: the keyring's files stay in m_dir.
    std::vector<std::string> env = {"HOME=" + m_dir,
                                    "XDG_RUNTIME_DIR=" + m_dir + "/run",
                                    "XDG_DATA_HOME=" + m_dir + "/data",
                                    "XDG_CONFIG_HOME=" + m_dir + "/config",
                                    "DBUS_SESSION_BUS_ADDRESS=" + m_address,
                                    "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (!input.empty() && ::write(in[1], input.data(), input.size()) < 0)
        throw std::runtime_error("cannot feed " + argv[0]);
    ::close(in[1]);
    if (waitForLine) {
        char c = 0;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            *line += c;
    }
    ::close(out[0]);
    return pid;
}

KeyringEnvironment::KeyringEnvironment(Service service) {
    char tmpl[] = "/tmp/tarn-keyring-XXXXXX";
    if (!::mkdtemp(tmpl))
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    m_dir = tmpl;
    for (const char* sub : {"/run", "/data", "/config"})
        ::mkdir((m_dir + sub).c_str(), 0700);
    const std::string config = m_dir + "/bus.conf";
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>"
           "<type>session</type><listen>unix:path="
        << m_dir
        << "/socket</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
           "<allow own=\"*\"/></policy></busconfig>\n";
    m_bus = spawn({kBusDaemon, "--config-file=" + config, "--nofork", "--print-address=1"}, "",
                  true, &m_address);
    if (m_address.empty())
        throw std::runtime_error("dbus-daemon did not start");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", m_address.c_str(), 1);
    // libsecret talks over GLib's shared session connection, which by default raises SIGTERM
    // in this process when the bus goes away under it, as the bus does at the end of each
    // test. Holding the connection keeps libsecret on this one, which does not.
    if (GDBusConnection* c = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        g_dbus_connection_set_exit_on_close(c, FALSE);
        m_connection = c;
    }

    if (service == Service::GnomeKeyring) {
        // A non-empty unlock password makes and unlocks the login keyring.
        m_service = spawn({kKeyringDaemon, "--foreground", "--unlock", "--components=secrets"},
                          "tarn-test-unlock", false, nullptr);
        SecretServiceStore probe;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (!probe.available(std::chrono::milliseconds(1000))) {
            if (std::chrono::steady_clock::now() > until)
                throw std::runtime_error("gnome-keyring-daemon did not take the bus name");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    } else if (service == Service::Silent) {
        std::string ready;
        m_service = spawn({TARN_SILENT_SECRET_SERVICE, m_address}, "", true, &ready);
        if (ready != "ready")
            throw std::runtime_error("the silent secret service did not start");
    }
}

KeyringEnvironment::~KeyringEnvironment() {
    stop(m_service);
    stop(m_bus);
    if (m_connection)
        g_object_unref(static_cast<GDBusConnection*>(m_connection));
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::string KeyringEnvironment::searchItems(const std::string& folder) const {
    const std::string command = "DBUS_SESSION_BUS_ADDRESS='" + m_address +
                                "' timeout 10 secret-tool search --all folder '" + folder +
                                "' 2>&1";
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[512];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

} // namespace tarn::test
