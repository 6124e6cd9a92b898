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
        "Default browser could not be determined\rPlease start your browser manually and visit ";
    static constexpr const char* NotStartedText =
        "Browser could not be started\n\rPlease open your browser manually and go to:\n\r";

    using HandlerQuery = MailClientLauncher::HandlerQuery;
    using DataDirs = MailClientLauncher::DataDirs;
    using Message = std::function<void(const std::string&)>;

    explicit BrowserLauncher(ProcessLauncher& launcher = systemProcessLauncher(),
                             HandlerQuery handlerQuery = queryDefaultBrowser,
                             DataDirs dataDirs = MailClientLauncher::xdgDataDirs);

    // The browser's program: the first argument of the default browser's Exec line. When
    // there is none, onMessage gets the "could not be determined" text with the home page
    // address and the path is empty.
    std::string GetDefaultBrowser(const std::string& homePage, const Message& onMessage) const;
    // The arguments that open the address: the default browser's Exec line with its field
    // codes filled in (the address appended when it has none); empty when there is no browser.
    std::vector<std::string> browserArgv(const std::string& address) const;
    // Starts the browser with the address, in the browser's folder, without a shell. One
    // failure gets one message: "could not be determined" when there is no browser, "could
    // not be started" when it does not start. True when the browser started.
    bool LaunchHomePage(const std::string& homePage, const Message& onMessage) const;

    // "xdg-settings get default-web-browser", else the desktop's http handler; "" when neither.
    static std::string queryDefaultBrowser();

private:
    ProcessLauncher& m_launcher;
    HandlerQuery m_handlerQuery;
    DataDirs m_dataDirs;
};

} // namespace tarn
