#pragma once

#include "core/CommandLine.h"

#include <string>

namespace tarn {

// Shortcuts to the program as desktop entries: the start-up one in the user's autostart
// folder, the program group in the user's applications folder. Every shortcut starts the
// program with "-prefs" and the instance's PrefsName in the working folder.
class ShellShortcuts {
public:
    // The special folders, numbered as the shell numbers them.
    enum class Folder { Programs = 2, Startup = 7 };
    enum class Kind { Program, Document };

    struct Context {
        std::string workingFolder;
        std::string programPath; // the program's own absolute path
        std::string PrefsName = kDefaultPrefsName;
    };

    static constexpr const char* DefaultPrefsName = kDefaultPrefsName;
    static constexpr const char* GroupName = "Tarnwick";

    explicit ShellShortcuts(Context context) : m_context(std::move(context)) {}

    // "Add Shortcut to Startup". Throws TarnError with the reason when it cannot be written.
    void addStartupShortcut() const;
    // "Add Shortcut to Menu": the program, the read-me and the FAQ in the program group.
    void addStartmenuShortcuts() const;

    // $XDG_CONFIG_HOME/autostart or $XDG_DATA_HOME/applications (with their defaults under
    // $HOME). Throws TarnError when neither the variable nor HOME gives an absolute folder.
    static std::string GetSpecialFolderPath(Folder folder);
    // Writes one entry titled so, replacing one of the same name: in the autostart folder, or
    // in the program group of the applications folder. target is the program or the document
    // the entry opens. Throws TarnError with the reason.
    void CreateShellLink(const std::string& target, Kind kind, const std::string& title,
                         Folder folder) const;

    // --- the rules, free of any file ---

    // Characters 6 to length - 4 of a name of 10 or more characters; empty otherwise.
    static std::string instanceNumber(const std::string& PrefsName);
    // "Tarnwick" for the default instance, else "Tarnwick Instance " + instance number.
    static std::string programShortcutName(const std::string& PrefsName);
    // The file name of a shortcut titled so: no "/" or control character, at most 255 bytes
    // with ".desktop" (cut at a character boundary).
    static std::string fileNameFor(const std::string& title);
    // The entry's text.
    std::string entryText(const std::string& title, const std::string& target, Kind kind) const;
    // One argument of an Exec line, quoted and escaped as desktop entries require.
    static std::string execArgument(const std::string& arg);
    // A value with the desktop entry string escapes (\\, \n, \t, \r, a leading \s).
    static std::string escapeValue(const std::string& value);

private:
    Context m_context;
};

} // namespace tarn
