#include "platform/DesktopExec.h"

namespace tarn {

namespace {

// The desktop file's own string escapes, undone before the Exec quoting is read.
std::string unescapeString(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char n = s[i + 1];
            const char* from = "sntr\\";
            const char* to = " \n\t\r\\";
            bool known = false;
            for (int k = 0; from[k]; ++k)
                if (n == from[k]) {
                    out += to[k];
                    known = true;
                }
            if (known) {
                ++i;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

bool desktopExecTakesTargets(std::string_view exec) {
    for (std::size_t i = 0; i + 1 < exec.size(); ++i) {
        if (exec[i] != '%')
            continue;
        const char n = exec[i + 1];
        if (n == 'f' || n == 'F' || n == 'u' || n == 'U')
            return true;
        ++i; // "%%" is no code
    }
    return false;
}

std::optional<std::vector<std::string>> parseDesktopExec(std::string_view exec,
                                                         const std::vector<std::string>& targets) {
    const std::string value = unescapeString(exec);
    std::vector<std::string> argv;
    std::size_t i = 0;
    const std::size_t n = value.size();
    while (i < n) {
        while (i < n && isBlank(value[i]))
            ++i;
        if (i >= n)
            break;
        std::string arg;
        bool quoted = false; // the argument had quotes: it stays even when empty
        bool onlyListCode = false;
        bool hadCodeOnly = true; // nothing but field codes so far
        while (i < n && !isBlank(value[i])) {
            const char c = value[i];
            if (c == '"') {
                quoted = true;
                hadCodeOnly = false;
                ++i;
                for (;;) {
                    if (i >= n)
                        return std::nullopt;
                    const char q = value[i];
                    if (q == '"') {
                        ++i;
                        break;
                    }
                    if (q == '\\' && i + 1 < n) {
                        const char e = value[i + 1];
                        if (e == '"' || e == '`' || e == '$' || e == '\\') {
                            arg += e;
                            i += 2;
                            continue;
                        }
                    }
                    arg += q;
                    ++i;
                }
                continue;
            }
            if (c == '%' && i + 1 < n) {
                const char code = value[i + 1];
                i += 2;
                if (code == '%') {
                    arg += '%';
                    hadCodeOnly = false;
                } else if (code == 'f' || code == 'u') {
                    if (!targets.empty())
                        arg += targets.front();
                } else if (code == 'F' || code == 'U') {
                    // Standing alone it becomes one argument per target; inside a word
                    // only the first fits.
                    if (arg.empty() && hadCodeOnly && (i >= n || isBlank(value[i])))
                        onlyListCode = true;
                    else if (!targets.empty())
                        arg += targets.front();
                }
                continue;
            }
            arg += c;
            hadCodeOnly = false;
            ++i;
        }
        if (onlyListCode) {
            argv.insert(argv.end(), targets.begin(), targets.end());
            continue;
        }
        // An argument made of field codes that stood for nothing is no argument.
        if (arg.empty() && !quoted)
            continue;
        argv.push_back(std::move(arg));
    }
    if (argv.empty() || argv.front().empty())
        return std::nullopt;
    return argv;
}

} // namespace tarn
