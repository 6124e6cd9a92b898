#include "platform/MailClientLauncher.h"

#include "core/AsciiText.h"
#include "platform/DesktopExec.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tarn {

namespace {

std::string trim(std::string_view s) {
    return std::string(trimSpaceAndLineEnds(s));
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::optional<std::string> rawExecOfFile(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::string line;
    bool inMainGroup = false;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || trim(line.substr(0, eq)) != "Exec")
            continue;
        return trim(line.substr(eq + 1));
    }
    return std::nullopt;
}

} // namespace

MailClientLauncher::MailClientLauncher(ProcessLauncher& launcher, HandlerQuery handlerQuery,
                                       DataDirs dataDirs)
    : m_launcher(launcher), m_handlerQuery(std::move(handlerQuery)),
      m_dataDirs(std::move(dataDirs)) {}

std::string MailClientLauncher::fileNamePart(const std::string& command) {
    const std::size_t sep = command.find_last_of("\\/:");
    return sep == std::string::npos ? command : command.substr(sep + 1);
}

std::string MailClientLauncher::folderPart(const std::string& command) {
    const std::size_t sep = command.find_last_of("\\/:");
    return sep == std::string::npos ? std::string() : command.substr(0, sep + 1);
}

bool MailClientLauncher::wantsMailOption(const std::string& program) {
    const std::string name = lower(fileNamePart(program));
    return name.find("netsc") != std::string::npos || name.find("mozilla") != std::string::npos;
}

std::string MailClientLauncher::clientCommand(int DefaultMailClient,
                                              const std::string& CustomMailClientPath,
                                              const std::string& defaultCommand) {
    std::string cmd = DefaultMailClient != 0 ? CustomMailClientPath : defaultCommand;
    if (wantsMailOption(cmd))
        cmd += " -mail";
    return cmd;
}

std::string MailClientLauncher::stripFieldCodes(const std::string& exec) {
    std::string out;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == '\\' && i + 1 < exec.size()) {
            // The desktop file's string escapes.
            const char n = exec[i + 1];
            if (n == 's' || n == '\\' || n == 't') {
                out += n == 's' ? ' ' : n == 't' ? '\t' : '\\';
                ++i;
                continue;
            }
        }
        if (c == '%' && i + 1 < exec.size()) {
            const char n = exec[i + 1];
            ++i;
            if (n == '%')
                out += '%';
            // Every other field code stands for something only a launcher with a file or
            // URL at hand could fill in: it goes.
            continue;
        }
        out += c;
    }
    // Removing codes can leave runs of spaces.
    std::string collapsed;
    for (char c : trim(out)) {
        if (c == ' ' && !collapsed.empty() && collapsed.back() == ' ')
            continue;
        collapsed += c;
    }
    return collapsed;
}

std::string MailClientLauncher::queryDefaultMailtoHandler() {
    std::string out;
    if (!runAndCapture({"xdg-mime", "query", "default", "x-scheme-handler/mailto"}, 5000, out))
        return std::string();
    out = trim(out);
    // Several ids may come back separated by ";": the first is the default.
    const std::size_t semi = out.find(';');
    return semi == std::string::npos ? out : trim(out.substr(0, semi));
}

std::vector<std::string> MailClientLauncher::xdgDataDirs() {
    std::vector<std::string> dirs;
    const std::string home = envOr("HOME", "");
    const std::string dataHome =
        envOr("XDG_DATA_HOME", home.empty() ? std::string() : home + "/.local/share");
    if (!dataHome.empty())
        dirs.push_back(dataHome);
    std::stringstream rest(envOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"));
    for (std::string d; std::getline(rest, d, ':');)
        if (!d.empty())
            dirs.push_back(d);
    return dirs;
}

std::optional<std::string>
MailClientLauncher::desktopFileExec(const std::string& desktopId,
                                    const std::vector<std::string>& dataDirs) {
    const std::optional<std::string> raw = desktopFileExecLine(desktopId, dataDirs);
    if (!raw)
        return std::nullopt;
    return stripFieldCodes(*raw);
}

std::optional<std::string>
MailClientLauncher::desktopFileExecLine(const std::string& desktopId,
                                        const std::vector<std::string>& dataDirs) {
    if (desktopId.empty() || desktopId.find('/') != std::string::npos ||
        desktopId.find("..") != std::string::npos)
        return std::nullopt;
    // "vendor-app.desktop" may also live as applications/vendor/app.desktop.
    std::vector<std::string> relative{desktopId};
    for (std::size_t dash = desktopId.find('-'); dash != std::string::npos;
         dash = desktopId.find('-', dash + 1)) {
        std::string nested = desktopId;
        nested[dash] = '/';
        relative.push_back(nested);
    }
    for (const std::string& dir : dataDirs) {
        for (const std::string& rel : relative) {
            const std::string path = dir + "/applications/" + rel;
            if (std::ifstream(path))
                return rawExecOfFile(path);
        }
    }
    return std::nullopt;
}

std::vector<std::string> MailClientLauncher::defaultMailClientArgv() const {
    const std::string id = m_handlerQuery ? m_handlerQuery() : std::string();
    if (id.empty())
        return {};
    const std::optional<std::string> exec =
        desktopFileExecLine(id, m_dataDirs ? m_dataDirs() : xdgDataDirs());
    if (!exec)
        return {};
    return parseDesktopExec(*exec, {}).value_or(std::vector<std::string>());
}

bool MailClientLauncher::launch(int DefaultMailClient, const std::string& CustomMailClientPath,
                                const std::function<void(const std::string&)>& onError) const {
    std::vector<std::string> argv;
    try {
        // The user's own command is a command line; the desktop's is an Exec value.
        argv = DefaultMailClient != 0 ? commandLineToArgv(CustomMailClientPath)
                                      : defaultMailClientArgv();
    } catch (...) {
        return false;
    }
    if (!argv.empty() && wantsMailOption(argv.front()))
        argv.push_back("-mail");
    if (argv.empty() || !m_launcher.startDetached(argv, folderPart(argv.front()))) {
        if (onError)
            onError(ErrorText);
        return false;
    }
    return true;
}

} // namespace tarn
