#include "StoreTestSupport.h"

#include "core/PrivateFile.h"
#include "core/TarnError.h"
#include "store/MailDBFile.h"
#include "store/MailStoreFiles.h"
#include "store/SqliteDb.h"
#include "store/SqliteStatement.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <sys/wait.h>
#include <thread>

using namespace tarn;
using tarn::test::makeRecord;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const fs::path& p, const std::string& data) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
}

class StoreFilesTest : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarn-store-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path saved() const { return m_dir / "MailDB.tdb"; }
    fs::path blank() const { return m_dir / "blankMDB.tdb"; }

    StoreLoadOptions options(bool keep, bool releaseChanged, int ecount = 3) {
        StoreLoadOptions o;
        o.folder = m_dir.string();
        o.KeepMailDB = keep;
        o.ReleaseChanged = releaseChanged;
        o.ECount = ecount;
        o.errorBox = [this](const std::string& text) { m_boxes.push_back(text); };
        return o;
    }

    // Saves records through a table of its own.
    void saveRecords(const std::vector<MailRecord>& records) {
        MailListDB db(m_lock);
        for (const MailRecord& r : records) {
            db.AppendMessage(r);
            db.UpdateMessage(r); // exactly as given, New included
        }
        ASSERT_TRUE(MailStoreFiles::SaveStore(db, m_dir.string(), true));
    }

    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_dir)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path m_dir;
    test::ScopedLockName m_lockName;
    NamedMutex m_lock{m_lockName.name};
    MailListDB m_db{m_lock};
    std::vector<std::string> m_boxes;
};

MailRecord fullRecord() {
    MailRecord r;
    r.Count = 7;
    r.Subject = "Subject \xe9t\xe9"; // Latin-1 bytes stay bytes
    r.Sender = "Someone <a@b.example>";
    r.Size = 123456;
    r.Account = 2;
    r.Delete = true;
    r.Header = "From: a\r\nSubject: x\r\n";
    r.Body = std::string("body with \0 zero", 16);
    r.UID = "UID-7";
    r.Date = 45123.758;
    r.Ignore = false;
    r.Soundfile = "/sounds/ding.wav";
    r.RetrieveMail = true;
    r.icon = 14;
    r.New = false;
    return r;
}

TEST_F(StoreFilesTest, SaveAndLoadKeepEveryFieldAndAbsence) {
    MailRecord sparse = makeRecord("sparse", 1, 1); // everything else absent
    sparse.New.reset();
    saveRecords({fullRecord(), sparse});

    auto loaded = MailDBFile::read(saved().string());
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0], fullRecord());
    EXPECT_EQ(loaded[1], sparse);
    EXPECT_FALSE(loaded[1].Body.has_value());
    EXPECT_FALSE(loaded[1].Date.has_value());

    // Whole-number dates come back as the same value.
    MailRecord whole = fullRecord();
    whole.Date = 45000.0;
    saveRecords({whole});
    EXPECT_EQ(MailDBFile::read(saved().string()).at(0).Date, 45000.0);
}

TEST_F(StoreFilesTest, FileHoldsOneTableOfTheFifteenFieldsAndNoJournal) {
    saveRecords({fullRecord()});
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"MailDB.tdb"}));

    SqliteDb db(saved().string(), SQLITE_OPEN_READONLY);
    SqliteStatement info(db, "SELECT name, type FROM pragma_table_info('MailDB')");
    std::vector<std::string> fields;
    while (info.step()) {
        fields.push_back(info.columnText(0) + " " + info.columnText(1));
    }
    EXPECT_EQ(fields,
              (std::vector<std::string>{
                  "Count INTEGER", "Subject VARCHAR(128)", "Sender VARCHAR(128)", "Size INTEGER",
                  "Account INTEGER", "Delete BOOLEAN", "Header TEXT", "Body TEXT",
                  "UID VARCHAR(128)", "Date DATETIME", "Ignore BOOLEAN", "Soundfile VARCHAR(256)",
                  "RetrieveMail BOOLEAN", "icon INTEGER", "New BOOLEAN"}));
    SqliteStatement tables(db, "SELECT count(*) FROM sqlite_master");
    ASSERT_TRUE(tables.step());
    EXPECT_EQ(tables.columnInt64(0), 1);
}

TEST_F(StoreFilesTest, LoadShowsSavedListAndMarksAccountsBeforeAnyCheck) {
    MailRecord hidden = makeRecord("h", 3, 2);
    hidden.Ignore = true;
    saveRecords({makeRecord("a", 1, 1), makeRecord("b", 1, 2), hidden, makeRecord("x", 9, 1)});

    const auto marked = MailStoreFiles::LoadStore(m_db, options(true, false, 3));
    EXPECT_EQ(marked, (std::set<int>{1, 3})) << "only accounts 1 to ECount are marked";
    EXPECT_EQ(m_db.size(), 4u);
    EXPECT_EQ(m_db.CountShownMessages(1), 2);
    EXPECT_EQ(m_db.CountShownMessages(3), 0);
    EXPECT_TRUE(m_db.FindMessage("h", 3));
    EXPECT_TRUE(fs::exists(blank())) << "template written on the way";
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(StoreFilesTest, LoadKeepsFileOrderForEqualKeys) {
    std::vector<MailRecord> records;
    for (const char* uid : {"q", "a", "m", "z"}) {
        records.push_back(makeRecord(uid, 1, 1)); // all at the same count
    }
    saveRecords(records);
    MailStoreFiles::LoadStore(m_db, options(true, false));
    std::vector<std::string> order;
    for (const auto& k : m_db.MessageKeys(1)) {
        order.push_back(k.UID);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"q", "a", "m", "z"}));
}

TEST_F(StoreFilesTest, ReleaseChangedStartsEmptyAndExitOverwrites) {
    saveRecords({makeRecord("old", 1, 1)});
    const std::string before = readAll(saved());

    EXPECT_TRUE(MailStoreFiles::LoadStore(m_db, options(true, true)).empty());
    EXPECT_EQ(m_db.size(), 0u);
    EXPECT_EQ(readAll(saved()), before) << "the old file stays until exit";
    EXPECT_TRUE(fs::exists(blank()));

    m_db.AppendMessage(makeRecord("new", 2, 1));
    ASSERT_TRUE(MailStoreFiles::SaveStore(m_db, m_dir.string(), true));
    auto loaded = MailDBFile::read(saved().string());
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].UID, "new");
}

TEST_F(StoreFilesTest, KeepMailDBOffReadsAndWritesNothing) {
    saveRecords({makeRecord("old", 1, 1)});
    const std::string before = readAll(saved());

    EXPECT_TRUE(MailStoreFiles::LoadStore(m_db, options(false, false)).empty());
    EXPECT_EQ(m_db.size(), 0u);
    EXPECT_FALSE(fs::exists(blank()));

    m_db.AppendMessage(makeRecord("new", 1, 1));
    EXPECT_FALSE(MailStoreFiles::SaveStore(m_db, m_dir.string(), false));
    EXPECT_EQ(readAll(saved()), before);
}

TEST_F(StoreFilesTest, MissingTemplateIsWrittenAndLoadedWhenNoSavedList) {
    for (bool releaseChanged : {false, true}) {
        fs::remove(blank());
        MailStoreFiles::LoadStore(m_db, options(!releaseChanged, releaseChanged));
        ASSERT_TRUE(fs::exists(blank())) << releaseChanged;
        EXPECT_TRUE(MailDBFile::read(blank().string()).empty());
        EXPECT_FALSE(fs::exists(saved()));
        EXPECT_TRUE(m_boxes.empty());
    }
}

// Files that are not a saved mail list.
struct BadFile {
    const char* label;
    std::function<void(const fs::path&)> make;
};

void sqlExec(const fs::path& p, const std::string& sql) {
    SqliteDb db(p.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.exec(sql);
}

std::vector<BadFile> badFiles() {
    return {
        {"Garbage", [](const fs::path& p) { writeAll(p, std::string(5000, 'G')); }},
        {"Empty", [](const fs::path& p) { writeAll(p, ""); }},
        {"Truncated",
         [](const fs::path& p) {
             MailRecord r = fullRecord();
             r.Body = std::string(200000, 'b');
             {
                 test::ScopedLockName n;
                 NamedMutex lock(n.name + "_t");
                 MailListDB db(lock);
                 for (int i = 0; i < 20; ++i) {
                     r.UID = "u" + std::to_string(i);
                     db.AppendMessage(r);
                 }
                 NamedLock hold(lock);
                 MailDBFile::write(p.string(), db.storedRecords());
                 NamedMutex::removeSystemObject(n.name + "_t");
             }
             fs::resize_file(p, fs::file_size(p) / 2);
         }},
        {"ForeignDatabase",
         [](const fs::path& p) { sqlExec(p, "CREATE TABLE notes (id INTEGER, text TEXT)"); }},
        {"MissingField",
         [](const fs::path& p) {
             sqlExec(p, "CREATE TABLE MailDB (Count INTEGER, Subject VARCHAR(128))");
         }},
        {"WrongFieldType",
         [](const fs::path& p) {
             std::string def = MailDBFile::tableDefinition();
             def.replace(def.find("\"Size\" INTEGER"), 14, "\"Size\" TEXT");
             sqlExec(p, def);
         }},
        {"WrongValueType",
         [](const fs::path& p) {
             sqlExec(p, std::string(MailDBFile::tableDefinition()) +
                            "; INSERT INTO MailDB (Count, UID) VALUES ('seven', 'x')");
         }},
        {"Folder", [](const fs::path& p) { fs::create_directory(p); }},
    };
}

class BadSavedFileTest : public StoreFilesTest, public testing::WithParamInterface<BadFile> {};

TEST_P(BadSavedFileTest, IsReplacedSilentlyByTheTemplateAndDeleted) {
    GetParam().make(saved());
    EXPECT_THROW(MailDBFile::read(saved().string()), TarnError);

    m_db.AppendMessage(makeRecord("before", 1, 1));
    EXPECT_TRUE(MailStoreFiles::LoadStore(m_db, options(true, false)).empty());
    EXPECT_EQ(m_db.size(), 0u);
    EXPECT_TRUE(m_boxes.empty());
    if (std::string(GetParam().label) != "Folder") {
        EXPECT_FALSE(fs::exists(saved()));
    }
    EXPECT_TRUE(fs::exists(blank()));
}

TEST_P(BadSavedFileTest, BadTemplateTooShowsTheErrorAndKeepsTheSavedFile) {
    writeAll(saved(), "not a database either, but kept");
    GetParam().make(blank());

    EXPECT_TRUE(MailStoreFiles::LoadStore(m_db, options(true, false)).empty());
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0], "Error while loading Database Files\r\n\r\nPlease restart Tarnwick.");
    EXPECT_EQ(m_db.size(), 0u);
    if (std::string(GetParam().label) != "Folder") {
        EXPECT_FALSE(fs::exists(blank()));
    }
    EXPECT_TRUE(fs::exists(saved()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, BadSavedFileTest, testing::ValuesIn(badFiles()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(StoreFilesTest, NextStartAfterTemplateErrorWritesFreshTemplateAndReadsSavedList) {
    saveRecords({makeRecord("kept", 1, 1)});
    writeAll(blank(), "broken template");
    MailStoreFiles::LoadStore(m_db, options(true, true)); // template chosen, fails twice
    ASSERT_EQ(m_boxes.size(), 1u);
    ASSERT_TRUE(fs::exists(saved()));

    MailStoreFiles::LoadStore(m_db, options(true, false));
    EXPECT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_db.FindMessage("kept", 1));
}

TEST_F(StoreFilesTest, SaveIntoUnwritablePlaceFailsAndKeepsOldFile) {
    m_db.AppendMessage(makeRecord("new", 1, 1));

    // The folder is a regular file.
    const fs::path notAFolder = m_dir / "plain";
    writeAll(notAFolder, "x");
    EXPECT_THROW(MailStoreFiles::SaveStore(m_db, notAFolder.string(), true), TarnError);

    // The saved file's name is taken by a folder.
    const fs::path sub = m_dir / "sub";
    fs::create_directories(sub / "MailDB.tdb");
    EXPECT_THROW(MailStoreFiles::SaveStore(m_db, sub.string(), true), TarnError);
    EXPECT_TRUE(fs::is_directory(sub / "MailDB.tdb"));
    EXPECT_FALSE(fs::exists(sub / "MailDB.tdb.saving")) << "no leftover";

    // The temporary file cannot be made: the old saved file is untouched.
    saveRecords({makeRecord("old", 1, 1)});
    const std::string before = readAll(saved());
    fs::create_directories(m_dir / "MailDB.tdb.saving" / "blocker");
    EXPECT_THROW(MailStoreFiles::SaveStore(m_db, m_dir.string(), true), TarnError);
    EXPECT_EQ(readAll(saved()), before);
}

TEST_F(StoreFilesTest, KilledWhileSavingNeverLeavesABrokenFile) {
    // Old list: 3 records. Each child saves a larger list over and over and is killed at a
    // different moment, nearly always in the middle of writing.
    saveRecords({makeRecord("o1", 1, 1), makeRecord("o2", 1, 2), makeRecord("o3", 1, 3)});
    constexpr int kNew = 1500;
    int midWrite = 0;
    for (int attempt = 0; attempt < 6; ++attempt) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t kid = fork();
        ASSERT_GE(kid, 0);
        if (kid == 0) {
            NamedMutex lock(m_lockName.name + "_kid");
            MailListDB db(lock);
            MailRecord r = fullRecord();
            r.Body = std::string(8000, 'b');
            for (int i = 0; i < kNew; ++i) {
                r.UID = "n" + std::to_string(i);
                db.AppendMessage(r);
            }
            char c = 'x';
            if (write(ready[1], &c, 1) != 1) {
                _exit(1);
            }
            for (;;) {
                MailStoreFiles::SaveStore(db, m_dir.string(), true);
            }
        }
        close(ready[1]);
        char c = 0;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        close(ready[0]);
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + 37 * attempt));
        ASSERT_EQ(kill(kid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(kid, &status, 0), kid);
        midWrite += fs::exists(m_dir / "MailDB.tdb.saving") ? 1 : 0;

        MailListDB db(m_lock);
        MailStoreFiles::LoadStore(db, options(true, false));
        ASSERT_TRUE(fs::exists(saved())) << "attempt " << attempt;
        ASSERT_TRUE(db.size() == 3 || db.size() == kNew) << db.size();
    }
    NamedMutex::removeSystemObject(m_lockName.name + "_kid");
    EXPECT_GT(midWrite, 0) << "no kill landed inside a save";
    // Whatever was left behind, the next save still works and leaves no temporary file.
    saveRecords({makeRecord("after", 1, 1)});
    EXPECT_EQ(MailDBFile::read(saved().string()).size(), 1u);
    EXPECT_FALSE(fs::exists(m_dir / "MailDB.tdb.saving"));
}

TEST_F(StoreFilesTest, PurgeMaillistEmptiesTableAndDeletesSavedFile) {
    saveRecords({makeRecord("a", 1, 1), makeRecord("b", 4, 1)});
    MailStoreFiles::LoadStore(m_db, options(true, false, 4));
    EXPECT_EQ(MailStoreFiles::PurgeMaillist(m_db, m_dir.string()), (std::set<int>{1, 4}));
    EXPECT_EQ(m_db.size(), 0u);
    EXPECT_FALSE(fs::exists(saved()));
    EXPECT_TRUE(fs::exists(blank()));
    EXPECT_TRUE(MailStoreFiles::PurgeMaillist(m_db, m_dir.string()).empty());
}

} // namespace

namespace {

unsigned modeOf(const fs::path& p) {
    return static_cast<unsigned>(fs::status(p).permissions() & fs::perms::all);
}

TEST_F(StoreFilesTest, SavedListIsPrivateWhenCreatedRewrittenAndAfterBeingWider) {
    std::vector<std::string> notices;
    setPrivacyNoticeSink([&](const std::string& t) { notices.push_back(t); });
    saveRecords({fullRecord()});
    EXPECT_EQ(modeOf(saved()), 0600u);
    saveRecords({fullRecord()});
    EXPECT_EQ(modeOf(saved()), 0600u);
    EXPECT_TRUE(notices.empty());

    fs::permissions(saved(), fs::perms::owner_read | fs::perms::owner_write |
                                 fs::perms::group_read | fs::perms::others_read);
    saveRecords({fullRecord()});
    EXPECT_EQ(modeOf(saved()), 0600u);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("MailDB.tdb"), std::string::npos);
    saveRecords({fullRecord()});
    EXPECT_EQ(notices.size(), 1u);
    setPrivacyNoticeSink(nullptr);
}

} // namespace
