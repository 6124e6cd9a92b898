#include "platform/ShellShortcuts.h"

#include "core/TarnError.h"
#include "platform/ProcessLauncher.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tarn;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Reads a desktop entry back the way a desktop does: keys of the main group with their
// string escapes undone.
std::map<std::string, std::string> readEntry(const fs::path& p) {
    std::map<std::string, std::string> keys;
    std::istringstream in(readAll(p));
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string value;
        const std::string raw = line.substr(eq + 1);
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size()) {
                const char n = raw[++i];
                value += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
            } else {
                value += raw[i];
            }
        }
        keys[line.substr(0, eq)] = value;
    }
    return keys;
}

// Splits an Exec value into arguments: double quotes group, a backslash inside them takes
// the next character literally, "%%" is a percent sign.
std::vector<std::string> execArgv(const std::string& exec) {
    std::vector<std::string> argv;
    std::string cur;
    bool quoted = false;
    bool have = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
            cur += '%';
            ++i;
            have = true;
        } else if (quoted && c == '\\' && i + 1 < exec.size()) {
            cur += exec[++i];
        } else if (c == '"') {
            quoted = !quoted;
            have = true;
        } else if (c == ' ' && !quoted) {
            if (have)
                argv.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have)
        argv.push_back(cur);
    return argv;
}

// Every file below a folder, relative to it.
std::set<std::string> filesBelow(const fs::path& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file())
            out.insert(fs::relative(e.path(), root).string());
    }
    return out;
}

// A private home with its XDG folders set for the test, and a working folder whose name
// needs every kind of escaping.
class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("tarnlinks" + std::to_string(getpid()));
        fs::create_directories(m_root / "home");
        save("XDG_CONFIG_HOME", (m_root / "home/config").string());
        save("XDG_DATA_HOME", (m_root / "home/data").string());
        m_work = m_root / "work dir \"q\" 100%$`\\x";
        fs::create_directories(m_work);
    }
    void TearDown() override {
        for (const auto& [name, old] : m_saved)
            old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str());
        fs::remove_all(m_root);
    }
    void save(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
    }
    ShellShortcuts shortcuts(const std::string& PrefsName) const {
        return ShellShortcuts({m_work.string(), "/opt/tarn wick/tarnwick", PrefsName});
    }
    fs::path autostart() const { return m_root / "home/config/autostart"; }
    fs::path group() const { return m_root / "home/data/applications/Tarnwick"; }

    static void expectValid(const fs::path& entry) {
        std::string out;
        EXPECT_TRUE(runAndCapture({"desktop-file-validate", entry.string()}, 20000, out))
            << entry << ": " << out;
        EXPECT_EQ(out, "") << entry;
    }

    fs::path m_root;
    fs::path m_work;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(ShellShortcutNames, InstanceNumberAndTitle) {
    const struct {
        const char* prefs;
        const char* instance;
        const char* title;
    } cases[] = {
        {"prefs.dat", "", "Tarnwick"},
        {"prefs2.dat", "2", "Tarnwick Instance 2"},
        {"prefs12.dat", "12", "Tarnwick Instance 12"},
        {"my.ini", "", "Tarnwick Instance "},
        {"x", "", "Tarnwick Instance "},
        {"PREFS.DAT", "", "Tarnwick Instance "},
        {"settings-home.dat", "ngs-home", "Tarnwick Instance ngs-home"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShellShortcuts::instanceNumber(c.prefs), c.instance) << c.prefs;
        EXPECT_EQ(ShellShortcuts::programShortcutName(c.prefs), c.title) << c.prefs;
    }
}

TEST_F(Shortcuts, NamesArgumentsAndFoldersPerInstance) {
    const struct {
        const char* prefs;
        const char* file;
        const char* title;
    } cases[] = {
        {"prefs.dat", "Tarnwick.desktop", "Tarnwick"},
        {"prefs3.dat", "Tarnwick Instance 3.desktop", "Tarnwick Instance 3"},
        {"prefs12.dat", "Tarnwick Instance 12.desktop", "Tarnwick Instance 12"},
        {"my.ini", "Tarnwick Instance .desktop", "Tarnwick Instance "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefs);
        fs::remove_all(m_root / "home");
        const ShellShortcuts links = shortcuts(c.prefs);
        links.addStartupShortcut();
        EXPECT_EQ(filesBelow(m_root / "home"),
                  std::set<std::string>{"config/autostart/" + std::string(c.file)});
        links.addStartmenuShortcuts();
        EXPECT_EQ(filesBelow(group()), (std::set<std::string>{c.file, "Tarnwick ReadMe.desktop",
                                                              "Tarnwick FAQ.desktop"}));

        for (const fs::path& p : {autostart() / c.file, group() / c.file}) {
            expectValid(p);
            auto keys = readEntry(p);
            EXPECT_EQ(keys["Name"], c.title);
            EXPECT_EQ(execArgv(keys["Exec"]),
                      (std::vector<std::string>{"/opt/tarn wick/tarnwick", "-prefs", c.prefs}));
            EXPECT_EQ(keys["Path"], m_work.string());
        }
        for (const char* doc : {"readme.txt", "faq.txt"}) {
            const fs::path p =
                group() / (doc == std::string("faq.txt") ? "Tarnwick FAQ.desktop"
                                                         : "Tarnwick ReadMe.desktop");
            expectValid(p);
            auto keys = readEntry(p);
            EXPECT_EQ(execArgv(keys["Exec"]),
                      (std::vector<std::string>{"xdg-open", (m_work / doc).string()}));
            EXPECT_EQ(keys["Path"], m_work.string());
        }
    }
}

TEST_F(Shortcuts, PressingTwiceOverwrites) {
    const ShellShortcuts links = shortcuts("prefs.dat");
    links.addStartupShortcut();
    links.addStartmenuShortcuts();
    const std::string first = readAll(autostart() / "Tarnwick.desktop");
    std::ofstream(autostart() / "Tarnwick.desktop") << "stale";
    std::ofstream(group() / "Tarnwick FAQ.desktop") << "stale";
    links.addStartupShortcut();
    links.addStartmenuShortcuts();
    EXPECT_EQ(readAll(autostart() / "Tarnwick.desktop"), first);
    EXPECT_NE(readAll(group() / "Tarnwick FAQ.desktop").find("[Desktop Entry]"), std::string::npos);
    // No temporary file stays behind.
    EXPECT_EQ(filesBelow(m_root / "home").size(), 4u);
}

TEST_F(Shortcuts, OddInstanceNamesStayInsideTheTwoFolders) {
    std::string longName = "prefs";
    for (int i = 0; i < 42; ++i)
        longName += "../\xc3\xa9/\n"; // climbing, accents and line breaks
    longName += ".dat";
    ASSERT_GE(longName.size(), 300u);
    for (const std::string& prefs : {std::string("x"), std::string("prefs/../../../evil.dat"),
                                     std::string("prefs\nName=Injected.dat"), longName}) {
        SCOPED_TRACE(prefs.substr(0, 40));
        fs::remove_all(m_root / "home");
        const ShellShortcuts links = shortcuts(prefs);
        links.addStartupShortcut();
        links.addStartmenuShortcuts();
        const std::set<std::string> files = filesBelow(m_root / "home");
        ASSERT_EQ(files.size(), 4u);
        for (const std::string& f : files) {
            EXPECT_TRUE(f.rfind("config/autostart/", 0) == 0 ||
                        f.rfind("data/applications/Tarnwick/", 0) == 0)
                << f;
            EXPECT_EQ(f.find('/', f.rfind("autostart/", 0) == 0 ? 17 : 27), std::string::npos) << f;
            expectValid(m_root / "home" / f);
        }
        const fs::path startup = *fs::directory_iterator(autostart());
        EXPECT_LE(startup.filename().string().size(), 255u);
        auto keys = readEntry(startup);
        EXPECT_EQ(keys["Name"], ShellShortcuts::programShortcutName(prefs));
        EXPECT_EQ(execArgv(keys["Exec"]),
                  (std::vector<std::string>{"/opt/tarn wick/tarnwick", "-prefs", prefs}));
        EXPECT_EQ(keys.count("Injected.dat"), 0u);
    }
    EXPECT_EQ(filesBelow(m_root).size(), 4u); // nothing escaped to the working folder's side
}

TEST_F(Shortcuts, UnwritableTextIsRefusedWithItsReason) {
    fs::remove_all(m_root / "home");
    const ShellShortcuts links = shortcuts(std::string("bell\x07.dat"));
    try {
        links.addStartupShortcut();
        FAIL() << "no error";
    } catch (const TarnError& e) {
        EXPECT_NE(std::string(e.what()).find("control character"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(m_root / "home/config"));
}

TEST_F(Shortcuts, SpecialFoldersFollowTheXdgVariables) {
    EXPECT_EQ(ShellShortcuts::GetSpecialFolderPath(ShellShortcuts::Folder::Startup),
              (m_root / "home/config/autostart").string());
    EXPECT_EQ(ShellShortcuts::GetSpecialFolderPath(ShellShortcuts::Folder::Programs),
              (m_root / "home/data/applications").string());
    // Relative values do not count; the defaults under HOME apply.
    save("XDG_CONFIG_HOME", "relative/config");
    save("XDG_DATA_HOME", "");
    save("HOME", (m_root / "home").string());
    EXPECT_EQ(ShellShortcuts::GetSpecialFolderPath(ShellShortcuts::Folder::Startup),
              (m_root / "home/.config/autostart").string());
    EXPECT_EQ(ShellShortcuts::GetSpecialFolderPath(ShellShortcuts::Folder::Programs),
              (m_root / "home/.local/share/applications").string());
}

} // namespace
