#pragma once

#include "platform/ProcessLauncher.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarn {

// Starts an account's mail program: its custom command, or the desktop's default handler of
// mailto links.
class MailClientLauncher {
public:
    static constexpr const char* ErrorText =
        "Default Mail Client could not be detected\n\rPlease open your Mail Client manually.";

    // Desktop file id of the default mailto handler ("" when there is none).
    using HandlerQuery = std::function<std::string()>;
    // Folders searched for applications/<id>, most important first.
    using DataDirs = std::function<std::vector<std::string>()>;

    explicit MailClientLauncher(ProcessLauncher& launcher = systemProcessLauncher(),
                                HandlerQuery handlerQuery = queryDefaultMailtoHandler,
                                DataDirs dataDirs = xdgDataDirs);

    // The default mail client's arguments: the handler's Exec line taken apart, with no
    // address to pass; empty when no handler is found.
    std::vector<std::string> defaultMailClientArgv() const;

    // Starts the mail client of an account. On failure onError receives ErrorText and false
    // is returned. An error while preparing the command ends silently (false, no report).
    bool launch(int DefaultMailClient, const std::string& CustomMailClientPath,
                const std::function<void(const std::string&)>& onError) const;

    // --- the rules, free of any system look-up ---

    // The command to start: the custom one unless DefaultMailClient is 0, with " -mail"
    // appended for Netscape and Mozilla programs.
    static std::string clientCommand(int DefaultMailClient, const std::string& CustomMailClientPath,
                                     const std::string& defaultCommand);
    // The text after the last "\", "/" or ":" and the text up to and including it.
    static std::string fileNamePart(const std::string& command);
    static std::string folderPart(const std::string& command);
    // Whether a program gets " -mail" (Netscape and Mozilla programs, by file name).
    static bool wantsMailOption(const std::string& program);

    // --- the desktop's default handler ---

    // "xdg-mime query default x-scheme-handler/mailto", trimmed; "" when it fails.
    static std::string queryDefaultMailtoHandler();
    // $XDG_DATA_HOME (or ~/.local/share), then $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
    static std::vector<std::string> xdgDataDirs();
    // The Exec line of the desktop file with that id in the first data folder holding it,
    // field codes removed; nothing when no such file or no Exec key.
    static std::optional<std::string> desktopFileExec(const std::string& desktopId,
                                                      const std::vector<std::string>& dataDirs);
    // The Exec value of that desktop file as written (escapes and field codes kept).
    static std::optional<std::string> desktopFileExecLine(const std::string& desktopId,
                                                          const std::vector<std::string>& dataDirs);
    // Removes the field codes (%u, %F, ...) of an Exec value, turns "%%" into "%" and trims.
    static std::string stripFieldCodes(const std::string& exec);

private:
    ProcessLauncher& m_launcher;
    HandlerQuery m_handlerQuery;
    DataDirs m_dataDirs;
};

} // namespace tarn
