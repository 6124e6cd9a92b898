#include "core/CommandLine.h"

#include <gtest/gtest.h>

using namespace tarn;

namespace {

struct Case {
    const char* name;
    std::vector<std::string> args{};
    std::string folder = "/cur";
    bool addMenu = false;
    std::string prefs = "prefs.dat";
    bool offline = false;
    std::optional<int> x{};
    std::optional<int> y{};
};

TEST(CommandLineTest, OptionsBeforeAndAfterTheSettings) {
    const Case cases[] = {
        {.name = "no words", .args = {}},
        {.name = "-d with a trailing slash", .args = {"-d", "/data/tarn/"}, .folder = "/data/tarn"},
        {.name = "-d with a trailing backslash",
         .args = {"-d", "C:\\tarn\\"},
         .folder = "C:\\tarn"},
        {.name = "-d drops only one separator",
         .args = {"-d", "/data/tarn//"},
         .folder = "/data/tarn/"},
        {.name = "-d without separator", .args = {"-d", "/data"}, .folder = "/data"},
        {.name = "-d with a lone backslash", .args = {"-d", "\\"}},
        {.name = "-d with a lone slash", .args = {"-d", "/"}},
        {.name = "-d with an empty word", .args = {"-d", ""}},
        {.name = "-d as the last word", .args = {"-d"}},
        {.name = "-d repeated, last wins", .args = {"-d", "/a", "-d", "/b"}, .folder = "/b"},
        {.name = "names are case-sensitive",
         .args = {"-D", "/a", "-AddMenu", "-Offline", "-X", "5"}},
        {.name = "-addmenu", .args = {"-addmenu"}, .addMenu = true},
        {.name = "-prefs", .args = {"-prefs", "prefs3.dat"}, .prefs = "prefs3.dat"},
        {.name = "-prefs as the last word", .args = {"prefs3.dat", "-prefs"}},
        {.name = "an argument is also an option",
         .args = {"-d", "-offline"},
         .folder = "-offline",
         .offline = true},
        {.name = "-prefs taking -d, which takes the next word",
         .args = {"-prefs", "-d", "/x"},
         .folder = "/x",
         .prefs = "-d"},
        {.name = "-offline", .args = {"-offline"}, .offline = true},
        {.name = "a word that is not an option", .args = {"offline", "x"}},
        {.name = "-x and -y", .args = {"-x", "10", "-y", "20"}, .x = 10, .y = 20},
        {.name = "-x hex and negative -y", .args = {"-x", "$10", "-y", "-5"}, .x = 16, .y = -5},
        {.name = "non-numeric -x is ignored", .args = {"-x", "abc"}},
        {.name = "-x as the last word", .args = {"-y", "3", "-x"}, .y = 3},
        {.name = "-x repeated, last wins", .args = {"-x", "10", "-x", "30"}, .x = 30},
        {.name = "a later unusable -x keeps the earlier one",
         .args = {"-x", "10", "-x", "junk"},
         .x = 10},
        {.name = "-x whose argument is -y", .args = {"-x", "-y", "5"}, .y = 5},
        {.name = "-x out of range", .args = {"-x", "99999999999"}},
        {.name = "everything",
         .args = {"-offline", "-d", "/w/", "-addmenu", "-prefs", "p2.dat", "-x", "1", "-y", "2"},
         .folder = "/w",
         .addMenu = true,
         .prefs = "p2.dat",
         .offline = true,
         .x = 1,
         .y = 2},
    };
    for (const auto& c : cases) {
        const CommandLineBefore before = comandlinebefore(c.args, "/cur");
        EXPECT_EQ(before.WorkingFolder, c.folder) << c.name;
        EXPECT_EQ(before.AddMenu, c.addMenu) << c.name;
        EXPECT_EQ(before.PrefsName, c.prefs) << c.name;
        const CommandLineAfter after = comandlineafter(c.args);
        EXPECT_EQ(after.Offline, c.offline) << c.name;
        EXPECT_EQ(after.X, c.x) << c.name;
        EXPECT_EQ(after.Y, c.y) << c.name;
    }
}

} // namespace
