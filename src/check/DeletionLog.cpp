#include "check/DeletionLog.h"

#include "core/Clock.h"
#include "core/DateFormat.h"
#include "core/PrivateFile.h"
#include "platform/ProcessLauncher.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn {

namespace {

void appendField(std::string& line, const std::string& field) {
    line += '|';
    for (char c : field)
        line += (c == '\r' || c == '\n') ? ' ' : c;
}

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::string deletionLogPath(const std::string& folder) {
    if (folder.empty())
        return kDeletionLogFile;
    return (std::filesystem::path(folder) / kDeletionLogFile).string();
}

bool WriteDeletionLog(const std::string& folder, const std::string& status,
                      const std::string& accountName, const std::string& subject,
                      const std::string& sender, const std::string& sizeText,
                      const std::string& uid, const Clock& clock) {
    std::string line = formatDateTime(clock.localDateTime());
    for (const std::string* field : {&status, &accountName, &subject, &sender, &sizeText, &uid})
        appendField(line, *field);
    line += "\r\n";

    const std::string path = deletionLogPath(folder);
    // One write on an O_APPEND descriptor keeps the line whole even if another process
    // appends at the same moment.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kPrivateFileMode);
    if (fd < 0)
        return false;
    narrowOpenFile(fd, path);
    const bool written = writeAll(fd, line);
    const bool closed = ::close(fd) == 0;
    return written && closed;
}

bool launchDesktopViewer(const std::string& path) {
    return systemProcessLauncher().startDetached({"xdg-open", path}, "");
}

ShowLogResult ShowDeletionLog(const std::string& folder, const ViewerLauncher& launcher,
                              const ErrorMessage& showError) {
    const std::string path = deletionLogPath(folder);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (showError)
            showError(kNoLoggedEvents);
        return ShowLogResult::NoLog;
    }
    // The full path, so the viewer finds the file whatever its own working folder.
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    const std::string target = ec ? path : full.string();
    const bool started = launcher ? launcher(target) : launchDesktopViewer(target);
    if (!started) {
        if (showError)
            showError(kNoExternalViewer);
        return ShowLogResult::NoViewer;
    }
    return ShowLogResult::Opened;
}

} // namespace tarn
