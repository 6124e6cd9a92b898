#include "core/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

namespace tarn {

namespace {

std::mutex g_sinkMutex;
PrivacyNoticeSink g_sink;

std::string octal(mode_t mode) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
    return buf;
}

bool narrowWith(mode_t current, const std::string& path, int (*change)(const void*, mode_t),
                const void* target) {
    if ((current & 077) == 0)
        return false;
    const mode_t narrowed = privateModeOf(current);
    if (change(target, narrowed) != 0)
        return false;
    reportPrivacyNotice(narrowedNotice(path, current, narrowed));
    return true;
}

} // namespace

void setPrivacyNoticeSink(PrivacyNoticeSink sink) {
    std::lock_guard lock(g_sinkMutex);
    g_sink = std::move(sink);
}

void reportPrivacyNotice(const std::string& text) {
    std::lock_guard lock(g_sinkMutex);
    if (g_sink)
        g_sink(text);
    else
        std::fprintf(stderr, "tarnwick: %s\n", text.c_str());
}

std::string narrowedNotice(const std::string& path, mode_t from, mode_t to) {
    return path + " was readable by others (mode " + octal(from) + "); narrowed to " + octal(to) +
           ".";
}

bool narrowOpenFile(int fd, const std::string& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return narrowWith(
        st.st_mode, path,
        [](const void* t, mode_t m) { return ::fchmod(*static_cast<const int*>(t), m); }, &fd);
}

bool narrowFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return narrowWith(
        st.st_mode, path,
        [](const void* t, mode_t m) { return ::chmod(static_cast<const char*>(t), m); },
        path.c_str());
}

int replaceFile(std::string tmpl, const std::string& target, const std::string& data, mode_t mode,
                bool sync) {
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        return errno;
    const auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(tmpl.c_str());
        return err;
    };
    if (::fchmod(fd, mode) != 0)
        return abandon(errno);
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return abandon(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (sync && ::fsync(fd) != 0)
        return abandon(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        return err;
    }
    if (::rename(tmpl.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        return err;
    }
    return 0;
}

} // namespace tarn
