#include "platform/BrowserLauncher.h"

#include "core/AsciiText.h"
#include "platform/DesktopExec.h"

#include <optional>

namespace tarn {

namespace {

// The first desktop id of a query's answer ("a.desktop;b.desktop" lists several).
std::string firstId(const std::string& answer) {
    const std::string trimmed(trimSpaceTab(answer.substr(0, answer.find_first_of(";\r\n"))));
    return trimmed;
}

} // namespace

BrowserLauncher::BrowserLauncher(ProcessLauncher& launcher, HandlerQuery handlerQuery,
                                 DataDirs dataDirs)
    : m_launcher(launcher), m_handlerQuery(std::move(handlerQuery)),
      m_dataDirs(std::move(dataDirs)) {}

std::string BrowserLauncher::queryDefaultBrowser() {
    std::string out;
    if (runAndCapture({"xdg-settings", "get", "default-web-browser"}, 5000, out) &&
        !firstId(out).empty())
        return firstId(out);
    if (runAndCapture({"xdg-mime", "query", "default", "x-scheme-handler/http"}, 5000, out))
        return firstId(out);
    return std::string();
}

std::vector<std::string> BrowserLauncher::browserArgv(const std::string& address) const {
    const std::string id = m_handlerQuery ? m_handlerQuery() : std::string();
    if (id.empty())
        return {};
    const std::optional<std::string> exec = MailClientLauncher::desktopFileExecLine(
        id, m_dataDirs ? m_dataDirs() : MailClientLauncher::xdgDataDirs());
    if (!exec)
        return {};
    std::vector<std::string> argv =
        parseDesktopExec(*exec, {address}).value_or(std::vector<std::string>());
    if (!argv.empty() && !desktopExecTakesTargets(*exec))
        argv.push_back(address);
    return argv;
}

std::string BrowserLauncher::GetDefaultBrowser(const std::string& homePage,
                                               const Message& onMessage) const {
    const std::vector<std::string> argv = browserArgv(homePage);
    if (argv.empty() && onMessage)
        onMessage(NotDeterminedText + homePage);
    return argv.empty() ? std::string() : argv.front();
}

bool BrowserLauncher::LaunchHomePage(const std::string& homePage, const Message& onMessage) const {
    const std::vector<std::string> argv = browserArgv(homePage);
    if (argv.empty()) {
        if (onMessage)
            onMessage(NotDeterminedText + homePage);
        return false;
    }
    if (!m_launcher.startDetached(argv, MailClientLauncher::folderPart(argv.front()))) {
        if (onMessage)
            onMessage(std::string(NotStartedText) + " \"" + homePage + "\"");
        return false;
    }
    return true;
}

} // namespace tarn
