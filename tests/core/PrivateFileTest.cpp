#include "core/PrivateFile.h"
#include "core/IniFile.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace tarn {
namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Records the notices instead of printing them.
class NoticeRecorder {
public:
    NoticeRecorder() {
        setPrivacyNoticeSink([this](const std::string& t) { notices.push_back(t); });
    }
    ~NoticeRecorder() { setPrivacyNoticeSink(nullptr); }
    std::vector<std::string> notices;
};

TEST(PrivateFile, SettingsFileIsCreatedPrivateAndAWiderFileIsNarrowedOnceWithANotice) {
    test::TempDir dir;
    NoticeRecorder rec;
    const std::string path = dir.file("tarn.ini");
    IniFile f(path);
    f.writeString("1", "Password", "tgfvjz");
    f.save();
    EXPECT_EQ(modeOf(path), 0600u);
    f.save();
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_TRUE(rec.notices.empty());

    ::chmod(path.c_str(), 0644);
    f.save();
    EXPECT_EQ(modeOf(path), 0600u);
    ASSERT_EQ(rec.notices.size(), 1u);
    EXPECT_NE(rec.notices[0].find(path), std::string::npos);
    EXPECT_NE(rec.notices[0].find("0644"), std::string::npos);
    f.save();
    EXPECT_EQ(rec.notices.size(), 1u) << "narrowed once, said once";
}

TEST(PrivateFile, NarrowingKeepsTheOwnersBitsAndLeavesAPrivateFileAlone) {
    struct Case {
        mode_t before;
        mode_t after;
        bool narrowed;
    };
    const Case cases[] = {
        {0600, 0600, false}, {0400, 0400, false}, {0644, 0600, true},
        {0666, 0600, true},  {0640, 0600, true},  {0704, 0700, true},
    };
    test::TempDir dir;
    NoticeRecorder rec;
    const std::string path = dir.file("MailDB.tdb");
    for (const Case& c : cases) {
        test::writeFile(path, "x");
        ::chmod(path.c_str(), c.before);
        rec.notices.clear();
        EXPECT_EQ(narrowFile(path), c.narrowed) << std::oct << c.before;
        EXPECT_EQ(modeOf(path), c.after) << std::oct << c.before;
        EXPECT_EQ(rec.notices.size(), c.narrowed ? 1u : 0u) << std::oct << c.before;
    }
    EXPECT_FALSE(narrowFile(dir.file("missing")));
}

} // namespace
} // namespace tarn
