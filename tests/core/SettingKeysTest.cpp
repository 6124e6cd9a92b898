#include "core/SettingKeys.h"
#include "core/AsciiText.h"
#include "core/IniFile.h"
#include "core/TarnError.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tarn;

namespace {

// One record of every kind, default-constructed: what a new record holds in memory.
struct Records {
    MainSettings main;
    AccountSettings account;
    TFilter filter;
    CheckerColors colors = CheckerColors::blueDefaults();
    EMailListSettings list;

    SettingRecords pointers() { return {&main, &account, &filter, &colors, &list}; }
};

struct Table {
    const char* section;
    std::span<const SettingKey> keys;
};

std::vector<Table> tables() {
    return {{"Main", mainKeys()},
            {"Metrics", metricsKeys()},
            {"1", accountKeys()},
            {"Filter 0", filterKeys()},
            {"BlueColorSet", colorSetKeys()},
            {"EMailList", emailListKeys()}};
}

TEST(SettingKeysTest, NamesAreUniqueWithinEachSection) {
    for (const Table& t : tables()) {
        for (std::size_t i = 0; i < t.keys.size(); ++i) {
            for (std::size_t j = i + 1; j < t.keys.size(); ++j)
                EXPECT_FALSE(equalsNoCase(t.keys[i].name, t.keys[j].name))
                    << t.section << ": " << t.keys[i].name;
        }
    }
}

// A record made in memory and one read from an empty file must not differ.
TEST(SettingKeysTest, FixedDefaultsAreWhatANewRecordHolds) {
    Records fresh;
    for (const Table& t : tables()) {
        for (const SettingKey& k : t.keys) {
            if (k.computed || (k.flags & kWriteOnly))
                continue;
            EXPECT_EQ(settingDefault(k, fresh.pointers(), {}), settingValue(k, fresh.pointers()))
                << t.section << ": " << k.name;
        }
    }
}

// A value unlike any default for every field, by key position, so a swapped key shows.
SettingValue unusualValue(const SettingKey& k, int i) {
    switch (k.type()) {
    case SettingType::Text:
        return "value of " + std::string(k.name) + " =[x]";
    case SettingType::Integer:
        return 7001 + i;
    case SettingType::Boolean:
        return i % 2 == 0;
    case SettingType::Colour:
        return static_cast<std::uint32_t>(0x80000000u + 0x10101u * static_cast<unsigned>(i));
    }
    return {};
}

// Also covers keys added later: each must come back from the file as it went in.
TEST(SettingKeysTest, EveryWrittenAndReadKeySurvivesTheFile) {
    for (const Table& t : tables()) {
        Records written;
        int i = 0;
        for (const SettingKey& k : t.keys)
            setSettingValue(k, written.pointers(), unusualValue(k, i++));
        IniFile out;
        writeSettingKeys(out, t.section, t.keys, written.pointers());

        Records read;
        const IniFile in = IniFile::fromText(out.text());
        readSettingKeys(in, t.section, t.keys, read.pointers(), {});
        readSettingKeys(in, t.section, t.keys, read.pointers(), {}, SettingReadPass::AfterLayout);
        for (const SettingKey& k : t.keys) {
            if (k.flags & (kReadOnly | kWriteOnly))
                continue;
            EXPECT_EQ(settingValue(k, read.pointers()), settingValue(k, written.pointers()))
                << t.section << ": " << k.name;
        }
    }
}

// Values the file can hold but the writer cannot write as they are read as they would be
// written, so a save and the next start give back what was read.
TEST(SettingKeysTest, TextIsReadAsTheWriterWouldStoreIt) {
    const struct {
        const char* name;
        std::string line;
        std::string expected;
    } cases[] = {
        {"lone CR inside", "Name=a\rb", "a b"},
        {"lone CR at the end", "Name=a\r\r", "a"},
        {"blank before a NUL", std::string("Name=a \0b", 9), "a"},
        {"blank at the length cut", "Name=" + std::string(2046, 'x') + " y",
         std::string(2046, 'x')},
    };
    const SettingKey* name = findSettingKey(accountKeys(), "Name");
    for (const auto& c : cases) {
        AccountSettings read;
        readSettingKeys(IniFile::fromText("[1]\n" + c.line + "\n"), "1", {name, 1},
                        {.account = &read}, {});
        EXPECT_EQ(read.Name, c.expected) << c.name;

        IniFile written;
        writeSettingKeys(written, "1", {name, 1}, {.account = &read});
        AccountSettings again;
        readSettingKeys(IniFile::fromText(written.text()), "1", {name, 1}, {.account = &again}, {});
        EXPECT_EQ(again.Name, read.Name) << c.name;
    }
}

TEST(SettingKeysTest, KeysAreFoundByNameToFillAndCommitAControl) {
    AccountSettings account;
    const SettingRecords records{.account = &account};
    const SettingKey* timer = findSettingKey(accountKeys(), "timer");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->name, "Timer");
    EXPECT_EQ(timer->type(), SettingType::Integer);
    EXPECT_EQ(settingValue(*timer, records), SettingValue(300000));

    setSettingValue(*timer, records, 60000);
    EXPECT_EQ(account.Timer, 60000);
    EXPECT_THROW(setSettingValue(*timer, records, std::string("60000")), TarnError);
    EXPECT_EQ(account.Timer, 60000);

    EXPECT_EQ(findSettingKey(accountKeys(), "NoSuchKey"), nullptr);
    // A key of another record than the one given.
    EXPECT_THROW(settingValue(*findSettingKey(mainKeys(), "Jumpback"), records), std::logic_error);
}

TEST(SettingKeysTest, AWordKeyIsWrittenAsItsWordAndNeverRead) {
    const SettingKey* colorSet = findSettingKey(mainKeys(), "ColorSet");
    ASSERT_NE(colorSet, nullptr);
    for (bool blue : {true, false}) {
        MainSettings m;
        m.BlueSetInUse = blue;
        IniFile ini;
        writeSettingKeys(ini, "Main", {colorSet, 1}, {.main = &m});
        EXPECT_EQ(ini.text(), blue ? "[Main]\nColorSet=blue\n" : "[Main]\nColorSet=gray\n");

        MainSettings back;
        back.BlueSetInUse = !blue;
        readSettingKeys(ini, "Main", {colorSet, 1}, {.main = &back}, {});
        EXPECT_EQ(back.BlueSetInUse, !blue);
    }
}

} // namespace
