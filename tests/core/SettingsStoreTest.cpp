// The settings store: the one reader and writer of tarn.ini, its snapshots and its news.

#include "core/SettingsStore.h"

#include "core/IniFile.h"
#include "core/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace tarn {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    SettingsStoreTest() : store(dir.file("tarn.ini")) {}

    IniFile onDisk() const { return IniFile(dir.file("tarn.ini")); }

    test::TempDir dir;
    SettingsStore store;
};

TEST_F(SettingsStoreTest, WholeSaveAndSectionWritesKeepEachOthersKeysAndUnknownOnes) {
    test::writeFile(dir.file("tarn.ini"), "[Main]\nECount=2\nFutureKey=kept\n"
                                          "[1]\nName=First\n[2]\nName=Second\n"
                                          "[Elsewhere]\nOther=1\n");
    store.load({});
    ASSERT_EQ(store.live().accountCount(), 2);

    // The mail list writes its section, then the preferences save the whole model, then the
    // mail list writes again and the colour commands write theirs.
    store.live().EMailList.Width = 777;
    store.saveEMailList();
    store.live().account(2).Name = "Renamed";
    store.save({.online = true, .hidden = false, .currentX = 5, .currentY = 6});
    store.live().EMailList.Height = 333;
    store.saveEMailList();
    CheckerColors colors = CheckerColors::blueDefaults();
    colors.Back = 0x123456;
    store.saveColorSet(colors);

    const IniFile ini = onDisk();
    EXPECT_EQ(ini.readInteger("EMailList", "Width", 0), 777);
    EXPECT_EQ(ini.readInteger("EMailList", "Height", 0), 333);
    EXPECT_EQ(ini.readString("2", "Name", ""), "Renamed");
    EXPECT_EQ(ini.readString("1", "Name", ""), "First");
    EXPECT_EQ(ini.readInteger("Main", "currentX", 0), 5);
    EXPECT_EQ(ini.readColor("BlueColorSet", "Back", 0), 0x123456u);
    EXPECT_EQ(ini.readString("Main", "FutureKey", ""), "kept");
    EXPECT_EQ(ini.readInteger("Elsewhere", "Other", 0), 1);

    // What the file now holds reads back into the live settings.
    SettingsStore again(dir.file("tarn.ini"));
    again.load({});
    again.loadColorSet();
    EXPECT_EQ(again.live().account(2).Name, "Renamed");
    EXPECT_EQ(again.live().Main.Colors.Back, 0x123456u);
    EXPECT_EQ(again.loadEMailList({}).Width, 777);
}

TEST_F(SettingsStoreTest, AFailedSaveLeavesTheFileAndTheSnapshotAsTheyWere) {
    test::writeFile(dir.file("tarn.ini"), "[Main]\nECount=1\n[1]\nName=Kept\n");
    store.load({});
    const auto before = store.snapshot();
    store.setPath(dir.file("missing-folder/tarn.ini"));
    store.live().account(1).Name = "Lost";
    EXPECT_ANY_THROW(store.save({}));
    EXPECT_EQ(store.snapshot(), before);
    EXPECT_EQ(onDisk().readString("1", "Name", ""), "Kept");
}

TEST_F(SettingsStoreTest, ASnapshotStaysAsItWasForItsHolder) {
    store.load({}); // no file: a first start with one account
    const std::shared_ptr<const Settings> held = store.snapshot();
    ASSERT_EQ(held->accountCount(), 1);
    const std::string name = held->account(1).Name;

    store.live().account(1).Name = "Changed";
    store.live().Accounts.push_back(store.live().account(1));
    EXPECT_EQ(store.snapshot(), held) << "nothing is published before publish()";
    store.publish();

    EXPECT_EQ(held->accountCount(), 1);
    EXPECT_EQ(held->account(1).Name, name);
    EXPECT_EQ(store.snapshot()->accountCount(), 2);
    EXPECT_EQ(store.snapshot()->account(1).Name, "Changed");
}

struct ChangeCase {
    const char* what;
    std::function<void(SettingsStore&)> act;
    std::vector<SettingsChange> heard;
    std::string section; // of the Section event, if any
};

TEST_F(SettingsStoreTest, SubscribersHearEachChangeOnce) {
    const std::vector<ChangeCase> cases = {
        {"publish without a change", [](SettingsStore& s) { s.publish(); }, {}, ""},
        {"publish with a renamed account",
         [](SettingsStore& s) {
             s.live().account(1).Name = "x";
             s.publish();
         },
         {SettingsChange::Accounts},
         ""},
        {"publish with a main setting only",
         [](SettingsStore& s) {
             s.live().Main.Round = !s.live().Main.Round;
             s.publish();
         },
         {},
         ""},
        {"save with a new account",
         [](SettingsStore& s) {
             s.live().Accounts.push_back(s.live().account(1));
             s.save({});
         },
         {SettingsChange::Accounts},
         ""},
        {"going offline",
         [](SettingsStore& s) { s.setOnline(false); },
         {SettingsChange::Online},
         ""},
        {"staying online", [](SettingsStore& s) { s.setOnline(true); }, {}, ""},
        {"the mail list's section",
         [](SettingsStore& s) { s.saveEMailList(); },
         {SettingsChange::Section},
         "EMailList"},
        {"the colour set's section",
         [](SettingsStore& s) { s.saveColorSet(CheckerColors::blueDefaults()); },
         {SettingsChange::Section},
         "BlueColorSet"},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir folder;
        SettingsStore s(folder.file("tarn.ini"));
        s.load({});
        std::vector<SettingsEvent> first, second;
        s.subscribe([&](const SettingsEvent& e) { first.push_back(e); });
        s.subscribe([&](const SettingsEvent& e) { second.push_back(e); });
        c.act(s);
        ASSERT_EQ(first.size(), c.heard.size());
        ASSERT_EQ(second.size(), c.heard.size());
        for (std::size_t i = 0; i < c.heard.size(); ++i) {
            EXPECT_EQ(first[i].kind, c.heard[i]);
            if (c.heard[i] == SettingsChange::Section) {
                EXPECT_EQ(first[i].section, c.section);
            }
            if (c.heard[i] == SettingsChange::Online) {
                EXPECT_FALSE(first[i].online);
            }
        }
    }
}

TEST_F(SettingsStoreTest, AnUnsubscribedListenerHearsNothingAndAListenerMayCallBack) {
    store.load({});
    int heard = 0;
    const int id = store.subscribe([&](const SettingsEvent&) { ++heard; });
    // A subscriber that reads the store while being told of a change must not deadlock.
    std::shared_ptr<const Settings> seen;
    store.subscribe([&](const SettingsEvent&) { seen = store.snapshot(); });
    store.setOnline(false);
    EXPECT_EQ(heard, 1);
    ASSERT_TRUE(seen);
    store.unsubscribe(id);
    store.setOnline(true);
    EXPECT_EQ(heard, 1);
}

TEST_F(SettingsStoreTest, ReadersOnOtherThreadsSeeWholeSnapshots) {
    store.load({});
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop) {
            const auto s = store.snapshot();
            // Every published model has all accounts named alike.
            for (const AccountSettings& a : s->Accounts)
                if (a.Name != s->account(1).Name)
                    ++torn;
        }
    });
    for (int i = 0; i < 500; ++i) {
        store.live().Accounts.resize(1 + i % 4);
        for (AccountSettings& a : store.live().Accounts)
            a.Name = "round " + std::to_string(i);
        store.publish();
    }
    stop = true;
    reader.join();
    EXPECT_EQ(torn, 0);
}

} // namespace
} // namespace tarn
