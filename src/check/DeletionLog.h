#pragma once

#include <functional>
#include <string>

namespace tarn {

class Clock;

// The deletion log: one line per message removed from a server, in the working folder.
inline constexpr const char* kDeletionLogFile = "tarnlog.log";
inline constexpr const char* kLogStatusDeleted = "Deleted";
inline constexpr const char* kLogStatusError = "Error While Deleting";
inline constexpr const char* kNoLoggedEvents = "There are no logged Events";
inline constexpr const char* kNoExternalViewer =
    "Cannot detect external viewer\n\rOpen \"TarnLog.log\" with a text editor to access the log "
    "file!";

// The log's path inside the working folder (the current directory when folder is empty).
std::string deletionLogPath(const std::string& folder);

// Appends "date[ hh:mm]|status|account|subject|sender|size|uid" and CR LF to the log,
// creating the file when missing. Fields go in as they are, "|" included; only a line break
// inside a field becomes a blank, so one event stays one line. A file that cannot be opened
// or written loses the line without an error; the result says whether it was written.
bool WriteDeletionLog(const std::string& folder, const std::string& status,
                      const std::string& accountName, const std::string& subject,
                      const std::string& sender, const std::string& sizeText,
                      const std::string& uid, const Clock& clock);

// Opens a file in the desktop's viewer for its type (xdg-open).
bool launchDesktopViewer(const std::string& path);

using ViewerLauncher = std::function<bool(const std::string& path)>;
using ErrorMessage = std::function<void(const std::string& text)>;

enum class ShowLogResult { Opened, NoLog, NoViewer };

// The "show the log" command: no log file yet reports kNoLoggedEvents; otherwise the log is
// handed to the viewer, and a viewer that cannot be started reports kNoExternalViewer.
ShowLogResult ShowDeletionLog(const std::string& folder, const ViewerLauncher& launcher,
                              const ErrorMessage& showError);

} // namespace tarn
