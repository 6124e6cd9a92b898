#include "fakes/dbus/PrivateBus.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace tarn::test {

namespace {
const char* const kDaemon = "/usr/bin/dbus-daemon";
}

bool PrivateBus::available() {
    return ::access(kDaemon, X_OK) == 0;
}

PrivateBus::PrivateBus() {
    char tmpl[] = "/tmp/tarn-bus-XXXXXX";
    if (!::mkdtemp(tmpl))
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    m_dir = tmpl;
    // A configuration of our own: no service activation, nothing from the system's files.
    const std::string config = m_dir + "/bus.conf";
    {
        FILE* f = std::fopen(config.c_str(), "w");
        if (!f)
            throw std::runtime_error("cannot write " + config);
        std::fprintf(f,
                     "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                     "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                     "busconfig.dtd\">\n<busconfig><type>session</type>"
                     "<listen>unix:path=%s/socket</listen>"
                     "<auth>EXTERNAL</auth><policy context=\"default\">"
                     "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n",
                     m_dir.c_str());
        std::fclose(f);
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(out[1], 3);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        const std::string cfg = "--config-file=" + config;
        ::execl(kDaemon, kDaemon, cfg.c_str(), "--nofork", "--print-address=3",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    // The address is printed once the daemon listens.
    std::string line;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(out[0]);
    if (line.empty()) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        throw std::runtime_error("dbus-daemon did not start");
    }
    m_address = line;
}

PrivateBus::~PrivateBus() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

QDBusConnection PrivateBus::connect(const QString& name) const {
    return QDBusConnection::connectToBus(QString::fromStdString(m_address), name);
}

} // namespace tarn::test
