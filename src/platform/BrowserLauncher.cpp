#include "platform/BrowserLauncher.h"

#include "core/AsciiText.h"

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

std::string BrowserLauncher::GetDefaultBrowser(const std::string& homePage,
                                               const Message& onMessage) const {
    std::string path;
    const std::string id = m_handlerQuery ? m_handlerQuery() : std::string();
    if (!id.empty()) {
        const std::optional<std::string> exec = MailClientLauncher::desktopFileExec(
            id, m_dataDirs ? m_dataDirs() : MailClientLauncher::xdgDataDirs());
        if (exec)
            path = MailClientLauncher::cutAtOptionOrQuote(*exec);
    }
    if (path.empty() && onMessage)
        onMessage(NotDeterminedText + homePage);
    return path;
}

std::string BrowserLauncher::homePageCommand(const std::string& browserPath,
                                             const std::string& homePage) {
    return browserPath + " \"" + homePage + "\"";
}

bool BrowserLauncher::LaunchHomePage(const std::string& homePage, const Message& onMessage) const {
    const std::string path = GetDefaultBrowser(homePage, onMessage);
    const std::string command = homePageCommand(path, homePage);
    // A missing browser leaves only the quoted address, which names no program either.
    const std::vector<std::string> argv =
        path.empty() ? std::vector<std::string>() : commandLineToArgv(command);
    if (argv.empty() || !m_launcher.startDetached(argv, MailClientLauncher::folderPart(path))) {
        if (onMessage)
            onMessage(std::string(NotStartedText) + " \"" + homePage + "\"");
        return false;
    }
    return true;
}

} // namespace tarn
