#include "core/IniFile.h"
#include "core/TarnError.h"

#include "TempDir.h"

#include <climits>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>

using namespace tarn;
using tarn::test::readFile;
using tarn::test::TempDir;
using tarn::test::writeFile;

namespace {

struct ReadCase {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

TEST(IniFileTest, FindsValuesByTheProfileFileRules) {
    const ReadCase cases[] = {
        {"plain", "[Main]\nKey=Value\n", "Main", "Key", "Value"},
        {"names ignore case", "[mAIN]\nkEY=v\n", "Main", "Key", "v"},
        {"blanks around value and key removed", "[S]\n  K \t=  a b \t\n", "S", "K", "a b"},
        {"blanks inside the brackets", "[ S ]\nK=v\n", "S", "K", "v"},
        {"CR LF endings", "[S]\r\nK=v\r\n", "S", "K", "v"},
        {"no final line break", "[S]\nK=v", "S", "K", "v"},
        {"first duplicate section wins", "[S]\nK=1\n[s]\nK=2\nJ=3\n", "S", "K", "1"},
        {"keys of a later duplicate are not seen", "[S]\nK=1\n[s]\nJ=3\n", "S", "J", std::nullopt},
        {"first duplicate key wins", "[S]\nK=1\nk=2\n", "S", "K", "1"},
        {"keys before any section belong to none", "K=1\n[S]\n", "S", "K", std::nullopt},
        {"comment lines are not keys", "[S]\n;K=1\n  #K=2\nK=3\n", "S", "K", "3"},
        {"value runs past further '='", "[S]\nK=a=b\n", "S", "K", "a=b"},
        {"empty value exists", "[S]\nK=\n", "S", "K", ""},
        {"line without '=' is ignored", "[S]\nK\nK=2\n", "S", "K", "2"},
        {"key with inner blank", "[S]\nA B=1\n", "S", "A B", "1"},
        {"8-bit bytes kept", "[S]\nK=\xE4\xF6\xFC\x80\n", "S", "K", "\xE4\xF6\xFC\x80"},
        {"value cut at NUL", std::string("[S]\nK=ab\0cd\n", 12), "S", "K", "ab"},
        {"quotes are kept", "[S]\nK=\"x\"\n", "S", "K", "\"x\""},
        {"missing section", "[S]\nK=1\n", "T", "K", std::nullopt},
        {"lone CR inside a line stays", "[S]\nK=a\rb\n", "S", "K", "a\rb"},
        {"byte order mark before the first header", "\xEF\xBB\xBF[S]\nK=1\n", "S", "K", "1"},
    };
    for (const auto& c : cases) {
        const IniFile ini = IniFile::fromText(c.text);
        EXPECT_EQ(ini.value(c.section, c.key), c.expected) << c.name;
    }
}

TEST(IniFileTest, ValuesAreCutTo2047BytesAfterTrimming) {
    const IniFile ini =
        IniFile::fromText("[S]\nK=   " + std::string(3000, 'x') + "\nShort=" + "ab" + "\n");
    EXPECT_EQ(ini.readString("S", "K", ""), std::string(2047, 'x'));
    EXPECT_EQ(ini.readString("S", "Short", ""), "ab");
}

TEST(IniFileTest, IntegersAreDecimalOrHexAndOtherwiseTheDefault) {
    struct Case {
        const char* text;
        int expected;
    } cases[] = {
        {"42", 42},
        {" 12 ", 12},
        {"-5", -5},
        {"+5", 5},
        {"0", 0},
        {"$1F", 31},
        {"0x1000", 4096},
        {"0X1f", 31},
        {"-$10", -16},
        {"0x7FFFFFFF", INT_MAX},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-0x80000000", INT_MIN},
        // Not numbers: the default.
        {"12abc", 7},
        {"1 2", 7},
        {"1.5", 7},
        {"abc", 7},
        {"true", 7},
        {"", 7},
        {"-", 7},
        {"$", 7},
        {"0x", 7},
        {"--1", 7},
        {"0x-5", 7},
        {"$G", 7},
        // Out of the int range: the default, not a wrapped value.
        {"2147483648", 7},
        {"-2147483649", 7},
        {"0xFFFFFFFF", 7},
        {"99999999999999999999999999", 7},
        {"-99999999999999999999999999", 7},
        {"0xFFFFFFFFFFFFFFFFFFFF", 7},
    };
    for (const auto& c : cases) {
        const IniFile ini = IniFile::fromText(std::string("[S]\nK=") + c.text + "\n");
        EXPECT_EQ(ini.readInteger("S", "K", 7), c.expected) << "'" << c.text << "'";
    }
    EXPECT_EQ(IniFile().readInteger("S", "K", 7), 7);
}

TEST(IniFileTest, NumberParsingReachesBothEndsOf64Bits) {
    EXPECT_EQ(parseProfileNumber("9223372036854775807"), LLONG_MAX);
    EXPECT_EQ(parseProfileNumber("-9223372036854775808"), LLONG_MIN);
    EXPECT_EQ(parseProfileNumber("-$8000000000000000"), LLONG_MIN);
    EXPECT_EQ(parseProfileNumber("9223372036854775808"), std::nullopt);
    EXPECT_EQ(parseProfileNumber("$8000000000000000"), std::nullopt);
    EXPECT_EQ(parseProfileNumber("-9223372036854775809"), std::nullopt);
}

TEST(IniFileTest, BooleansReadAsIntegersWithTheirDefault) {
    struct Case {
        std::optional<std::string> text;
        bool def;
        bool expected;
    } cases[] = {
        {"true", true, true},         {"true", false, false}, {"0", true, false},
        {"7", false, true},           {"-1", false, true},    {"1", false, true},
        {"0x0", true, false},         {"yes", false, false},  {std::nullopt, true, true},
        {std::nullopt, false, false},
    };
    for (const auto& c : cases) {
        const IniFile ini =
            IniFile::fromText(c.text ? "[S]\nB=" + *c.text + "\n" : std::string("[S]\n"));
        EXPECT_EQ(ini.readBool("S", "B", c.def), c.expected)
            << c.text.value_or("(missing)") << " default " << c.def;
    }
}

TEST(IniFileTest, ColoursKeepSystemColourValues) {
    struct Case {
        const char* text;
        std::uint32_t expected;
    } cases[] = {
        {"2147483652", 0x80000004u},
        {"-2147483644", 0x80000004u}, // the same pattern written as a signed number
        {"$80000004", 0x80000004u},
        {"0x80000000", 0x80000000u},
        {"4294967295", 0xFFFFFFFFu},
        {"16777215", 0xFFFFFFu},
        {"0", 0u},
        {"4294967296", 123u},
        {"-2147483649", 123u},
        {"red", 123u},
    };
    for (const auto& c : cases) {
        const IniFile ini = IniFile::fromText(std::string("[S]\nC=") + c.text + "\n");
        EXPECT_EQ(ini.readColor("S", "C", 123u), c.expected) << c.text;
    }
    IniFile ini;
    ini.writeColor("S", "C", 0x80000004u);
    EXPECT_EQ(ini.text(), "[S]\nC=2147483652\n");
    EXPECT_EQ(ini.readColor("S", "C", 0), 0x80000004u);
}

struct WriteCase {
    const char* name;
    std::string before;
    std::function<void(IniFile&)> change;
    std::string after;
};

TEST(IniFileTest, WritingAndErasingEditTheDocumentInPlace) {
    const WriteCase cases[] = {
        {"replaces the key's line in place", "[A]\nx=1\ny=2\n[B]\nz=3\n",
         [](IniFile& f) { f.writeString("A", "x", "9"); }, "[A]\nx=9\ny=2\n[B]\nz=3\n"},
        {"matches the key without case and uses the new spelling", "[A]\nkeepmaildb=0\n",
         [](IniFile& f) { f.writeBool("a", "keepMailDB", true); }, "[A]\nkeepMailDB=1\n"},
        {"adds after the section's last key, before blank lines and comments",
         "[A]\nx=1\n\n; about B\n[B]\ny=2\n", [](IniFile& f) { f.writeInteger("A", "n", 5); },
         "[A]\nx=1\nn=5\n\n; about B\n[B]\ny=2\n"},
        {"adds right after the header of a section without keys", "[A]\n; note\n[B]\n",
         [](IniFile& f) { f.writeString("A", "k", "v"); }, "[A]\nk=v\n; note\n[B]\n"},
        {"creates a missing section at the end", "; top\n[A]\nx=1\n",
         [](IniFile& f) { f.writeString("C", "k", "v"); }, "; top\n[A]\nx=1\n[C]\nk=v\n"},
        {"writes into the first of duplicate sections", "[A]\nx=1\n[A]\nx=2\n",
         [](IniFile& f) { f.writeString("A", "x", "3"); }, "[A]\nx=3\n[A]\nx=2\n"},
        {"erases every section of the name with its lines", "[A]\nx=1\n;c\n[B]\ny=2\n[a]\nz=3\n",
         [](IniFile& f) { f.eraseSection("A"); }, "[B]\ny=2\n"},
        {"erasing a missing section changes nothing", "[A]\nx=1\n",
         [](IniFile& f) { f.eraseSection("Q"); }, "[A]\nx=1\n"},
        {"new lines take the file's CR LF", "[A]\r\nx=1\r\n",
         [](IniFile& f) {
             f.writeString("A", "y", "2");
             f.writeString("B", "z", "3");
         },
         "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n"},
        {"a replaced line keeps its own ending", "[A]\nx=1\r\n",
         [](IniFile& f) { f.writeString("A", "x", "2"); }, "[A]\nx=2\r\n"},
        {"a value's own blanks are written as given", "[A]\n",
         [](IniFile& f) { f.writeString("A", "k", "  v "); }, "[A]\nk=  v \n"},
    };
    for (const auto& c : cases) {
        IniFile f = IniFile::fromText(c.before);
        c.change(f);
        EXPECT_EQ(f.text(), c.after) << c.name;
    }
}

TEST(IniFileTest, RefusesWhatALineCannotHold) {
    IniFile f;
    EXPECT_THROW(f.writeString("A", "k", "a\nb"), TarnError);
    EXPECT_THROW(f.writeString("A", "k", "a\rb"), TarnError);
    EXPECT_THROW(f.writeString("A", "k", std::string("a\0b", 3)), TarnError);
    EXPECT_THROW(f.writeString("A", "k=v", "x"), TarnError);
    EXPECT_THROW(f.writeString("A", "", "x"), TarnError);
    EXPECT_THROW(f.writeString("A", " k", "x"), TarnError);
    EXPECT_THROW(f.writeString("A", "[k", "x"), TarnError);
    EXPECT_THROW(f.writeString("A]", "k", "x"), TarnError);
    EXPECT_THROW(f.writeString("", "k", "x"), TarnError);
    EXPECT_EQ(f.text(), "");
}

TEST(IniFileTest, UnknownContentSurvivesAWriteByteForByte) {
    const std::string original = "; written by hand\r\n"
                                 "stray=outside\n"
                                 "[Main]\n"
                                 "Unknown = \xE9t\xE9  \n"
                                 "ECount=1\n"
                                 "\n"
                                 "# comment\n"
                                 "[Other]\r\n"
                                 "a=b\r\n";
    IniFile f = IniFile::fromText(original);
    EXPECT_EQ(f.text(), original);
    f.writeInteger("Main", "ECount", 2);
    std::string expected = original;
    expected.replace(expected.find("ECount=1"), 8, "ECount=2");
    EXPECT_EQ(f.text(), expected);
}

TEST(IniFileTest, ReaderSurvivesBinaryAndHugeContent) {
    std::mt19937 rng(12345);
    std::string binary(200000, '\0');
    for (auto& c : binary)
        c = static_cast<char>(rng() & 0xFF);
    binary += "\n[Main]\nECount=3\n";
    const IniFile bin = IniFile::fromText(binary);
    EXPECT_EQ(bin.readInteger("Main", "ECount", 0), 3);
    EXPECT_EQ(bin.text(), binary);

    const std::string longLine(1 << 20, 'q');
    const IniFile big = IniFile::fromText("[S]\nHuge=" + longLine + "\nAfter=1\n" + longLine);
    EXPECT_EQ(big.readString("S", "Huge", "").size(), IniFile::kMaxValueLength);
    EXPECT_EQ(big.readInteger("S", "After", 0), 1);
}

TEST(IniFileTest, MissingOrFolderPathReadsAsEmpty) {
    TempDir dir;
    const IniFile missing(dir.file("nothing.ini"));
    EXPECT_EQ(missing.text(), "");
    EXPECT_EQ(missing.readInteger("Main", "ECount", 4), 4);
    const IniFile folder(dir.path().string());
    EXPECT_EQ(folder.readInteger("Main", "ECount", 4), 4);
}

class IniFileSaveTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("tarn.ini");

    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(IniFileSaveTest, SaveReplacesTheFileAndLeavesNoTemporaryFile) {
    writeFile(path, "[Main]\nECount=1\n; keep me\n");
    IniFile f(path);
    f.writeInteger("Main", "ECount", 2);
    f.save();
    EXPECT_EQ(readFile(path), "[Main]\nECount=2\n; keep me\n");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"tarn.ini"});
}

TEST_F(IniFileSaveTest, NewFileIsPrivateAndAnExistingFileKeepsOnlyItsOwnersBits) {
    IniFile f(path);
    f.writeString("A", "Password", "bdf");
    f.save();
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    std::filesystem::permissions(path, std::filesystem::perms::owner_all |
                                           std::filesystem::perms::group_read);
    f.writeString("A", "x", "1");
    f.save();
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

TEST_F(IniFileSaveTest, SaveThroughASymbolicLinkKeepsTheLink) {
    const std::string real = dir.file("real.ini");
    writeFile(real, "[A]\nx=1\n");
    std::filesystem::create_symlink(real, path);
    IniFile f(path);
    f.writeString("A", "x", "2");
    f.save();
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readFile(real), "[A]\nx=2\n");
}

TEST_F(IniFileSaveTest, FolderThatIsAFileFailsWithAClearError) {
    const std::string notAFolder = dir.file("plain");
    writeFile(notAFolder, "x");
    IniFile f;
    f.setPath(notAFolder + "/tarn.ini");
    f.writeString("Main", "ECount", "1");
    try {
        f.save();
        FAIL() << "save into a regular file's 'folder' succeeded";
    } catch (const TarnError& e) {
        EXPECT_NE(std::string(e.what()).find(notAFolder + "/tarn.ini"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(readFile(notAFolder), "x");
}

TEST_F(IniFileSaveTest, TargetThatIsAFolderIsRefused) {
    std::filesystem::create_directory(path);
    IniFile f;
    f.setPath(path);
    f.writeString("Main", "ECount", "1");
    EXPECT_THROW(f.save(), TarnError);
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_THROW(IniFile::loadForUpdate(path), TarnError);
}

// A write that fails half-way (here: the process may not write files beyond 64 bytes, which
// stops root as well) leaves the old file as it was and no temporary file behind.
TEST_F(IniFileSaveTest, FailedWriteLeavesTheOldFileUntouched) {
    const std::string old = "[Main]\nECount=1\n";
    writeFile(path, old);
    IniFile f(path);
    for (int i = 0; i < 20; ++i)
        f.writeInteger("Main", "Key" + std::to_string(i), i);

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    std::string message;
    try {
        f.save();
    } catch (const TarnError& e) {
        threw = true;
        message = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(threw);
    EXPECT_NE(message.find("tarn.ini"), std::string::npos) << message;
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"tarn.ini"});
}

} // namespace
