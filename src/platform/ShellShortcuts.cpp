#include "platform/ShellShortcuts.h"

#include "core/TarnError.h"
#include "core/Utf8.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace tarn {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxFileName = 255;
const char* const kExtension = ".desktop";

// A base folder from an XDG variable: only an absolute path counts, else HOME + fallback.
std::string xdgBase(const char* variable, const char* underHome) {
    const char* v = std::getenv(variable);
    if (v && v[0] == '/')
        return v;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/')
        throw TarnError(std::string("Neither ") + variable + " nor HOME names a folder.");
    return std::string(home) + underHome;
}

// Text a desktop entry can carry: UTF-8 without control characters other than the three
// its escapes can write.
void requireEntryText(const std::string& what, const std::string& s) {
    if (!isValidUtf8(s))
        throw TarnError("The shortcut cannot be written: the " + what + " is not UTF-8 text.");
    for (unsigned char c : s) {
        if ((c < 0x20 && c != '\n' && c != '\t' && c != '\r') || c == 0x7f)
            throw TarnError("The shortcut cannot be written: the " + what +
                            " holds a control character.");
    }
}

void writeReplacing(const fs::path& path, const std::string& text) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec)
        throw TarnError("Could not create the folder " + path.parent_path().string() + ": " +
                        ec.message());
    const fs::path temp = path.parent_path() / (".tarnwick-" + std::to_string(getpid()) + ".tmp");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            const int err = errno;
            fs::remove(temp, ec);
            throw TarnError("Could not write " + path.string() + ": " + std::strerror(err));
        }
    }
    fs::rename(temp, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw TarnError("Could not write " + path.string() + ": " + ec.message());
    }
}

} // namespace

std::string ShellShortcuts::instanceNumber(const std::string& PrefsName) {
    if (PrefsName.size() < 10)
        return std::string();
    return PrefsName.substr(5, PrefsName.size() - 4 - 5);
}

std::string ShellShortcuts::programShortcutName(const std::string& PrefsName) {
    if (PrefsName == DefaultPrefsName)
        return "Tarnwick";
    return "Tarnwick Instance " + instanceNumber(PrefsName);
}

std::string ShellShortcuts::fileNameFor(const std::string& title) {
    std::string name;
    for (char c : title) {
        const unsigned char u = static_cast<unsigned char>(c);
        name += (c == '/' || u < 0x20 || u == 0x7f) ? '_' : c;
    }
    const std::size_t room = kMaxFileName - std::strlen(kExtension);
    if (name.size() > room) {
        std::size_t cut = room;
        // Back up to the start of a character.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return name + kExtension;
}

std::string ShellShortcuts::escapeValue(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case ' ':
            out += i == 0 ? "\\s" : " ";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string ShellShortcuts::execArgument(const std::string& arg) {
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        // A literal percent sign would read as a field code.
        if (c == '%')
            out += '%';
        out += c;
    }
    return out + "\"";
}

std::string ShellShortcuts::entryText(const std::string& title, const std::string& target,
                                      Kind kind) const {
    const std::string exec = kind == Kind::Program ? execArgument(target) + " -prefs " +
                                                         execArgument(m_context.PrefsName)
                                                   : "xdg-open " + execArgument(target);
    std::string t = "[Desktop Entry]\n";
    t += "Type=Application\n";
    t += "Version=1.0\n";
    t += "Name=" + escapeValue(title) + "\n";
    t += kind == Kind::Program ? "Comment=Checks your mail accounts and shows what is waiting\n"
                               : "Comment=Opens the file in your text viewer\n";
    t += "Exec=" + escapeValue(exec) + "\n";
    t += "Path=" + escapeValue(m_context.workingFolder) + "\n";
    t += kind == Kind::Program ? "Icon=tarnwick\n" : "Icon=text-x-generic\n";
    t += "Terminal=false\n";
    t += "Categories=Network;Email;\n";
    return t;
}

std::string ShellShortcuts::GetSpecialFolderPath(Folder folder) {
    return folder == Folder::Startup ? xdgBase("XDG_CONFIG_HOME", "/.config") + "/autostart"
                                     : xdgBase("XDG_DATA_HOME", "/.local/share") + "/applications";
}

void ShellShortcuts::CreateShellLink(const std::string& target, Kind kind, const std::string& title,
                                     Folder folder) const {
    requireEntryText("working folder", m_context.workingFolder);
    requireEntryText("program path", m_context.programPath);
    requireEntryText("instance name", m_context.PrefsName);
    fs::path dir(GetSpecialFolderPath(folder));
    if (folder == Folder::Programs)
        dir /= GroupName;
    // The title may carry anything the instance name holds; the file name may not.
    writeReplacing(dir / fileNameFor(title), entryText(title, target, kind));
}

void ShellShortcuts::addStartupShortcut() const {
    CreateShellLink(m_context.programPath, Kind::Program, programShortcutName(m_context.PrefsName),
                    Folder::Startup);
}

void ShellShortcuts::addStartmenuShortcuts() const {
    const fs::path folder(m_context.workingFolder);
    CreateShellLink(m_context.programPath, Kind::Program, programShortcutName(m_context.PrefsName),
                    Folder::Programs);
    CreateShellLink((folder / "readme.txt").string(), Kind::Document, "Tarnwick ReadMe",
                    Folder::Programs);
    CreateShellLink((folder / "faq.txt").string(), Kind::Document, "Tarnwick FAQ",
                    Folder::Programs);
}

} // namespace tarn
