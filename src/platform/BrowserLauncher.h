#pragma once

#include "platform/MailClientLauncher.h"
#include "platform/ProcessLauncher.h"

#include <functional>
#include <string>
#include <vector>

namespace tarn {

// Opens the home page in the desktop's default web browser, found and started the way the
// mail client launcher finds and starts the mail program.
class BrowserLauncher {
public:
    static constexpr const char* NotDeterminedText =
        "Default browser cound not be determined\rPlease start your browser manually and visit ";
    static constexpr const char* NotStartedText =
        "Browser could not be started\n\rPlease open your browser manually and go to:\n\r";

    using HandlerQuery = MailClientLauncher::HandlerQuery;
    using DataDirs = MailClientLauncher::DataDirs;
    using Message = std::function<void(const std::string&)>;

    explicit BrowserLauncher(ProcessLauncher& launcher = systemProcessLauncher(),
                             HandlerQuery handlerQuery = queryDefaultBrowser,
                             DataDirs dataDirs = MailClientLauncher::xdgDataDirs);

    // The browser's program path: the default browser's Exec line cut at the first "-" or
    // double quote (a leading quote skipped). When there is none, onMessage gets the
    // "cound not be determined" text with the home page address and the path is empty.
    std::string GetDefaultBrowser(const std::string& homePage, const Message& onMessage) const;
    // Starts the browser with the quoted address, in the browser's folder; on failure
    // onMessage gets the "could not be started" text. True when the browser started.
    bool LaunchHomePage(const std::string& homePage, const Message& onMessage) const;

    // The command line LaunchHomePage starts: path, a blank, the address in double quotes.
    static std::string homePageCommand(const std::string& browserPath, const std::string& homePage);
    // "xdg-settings get default-web-browser", else the desktop's http handler; "" when neither.
    static std::string queryDefaultBrowser();

private:
    ProcessLauncher& m_launcher;
    HandlerQuery m_handlerQuery;
    DataDirs m_dataDirs;
};

} // namespace tarn
