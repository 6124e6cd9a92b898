#include "core/NewMailNoticeText.h"
#include "core/TrayState.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The program's sources that hold texts a user reads: forms, and the headers and sources
// whose constants and literals end up in windows, boxes and notices.
std::vector<fs::path> textSources() {
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(fs::path(TARN_SOURCE_DIR) / "src")) {
        const std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".ui" || ext == ".h" || ext == ".cpp"))
            out.push_back(e.path());
    }
    return out;
}

// Misspellings found once, and words that name Windows things on a Linux desktop. The next
// one found is one more line here.
const char* const kWrongTexts[] = {
    "acecss",
    "Acitve",
    "notifcation",
    "dektop",
    "Snap window the your",
    "lastest",
    "it's preferences",
    "cound not",
    "start Windows",
    "Windows system folders",
    "notepad",
    "Notepad",
    "Windows Colors",
    "Windows desktop",
    "startmenu",
    "to Startmenu",
    "windows startup",
};

TEST(UserTexts, NoKnownMisspellingOrWindowsWord) {
    const std::vector<fs::path> files = textSources();
    ASSERT_GT(files.size(), 50u);
    for (const fs::path& f : files) {
        const std::string text = readAll(f);
        for (const char* wrong : kWrongTexts)
            EXPECT_EQ(text.find(wrong), std::string::npos)
                << "\"" << wrong << "\" in " << f.lexically_relative(TARN_SOURCE_DIR);
    }
}

// A colour button's hint names the colour it sets: an idle button never says "active".
TEST(UserTexts, IdleColourButtonsSayIdle) {
    const std::regex button(
        R"re(<widget class="QPushButton" name="(\w*Idle\w*)">([\s\S]*?)</widget>)re");
    const std::regex hint(R"re(<property name="toolTip"><string>([^<]*)</string>)re");
    int seen = 0;
    for (const fs::path& f : textSources()) {
        if (f.extension() != ".ui")
            continue;
        const std::string text = readAll(f);
        for (std::sregex_iterator it(text.begin(), text.end(), button), end; it != end; ++it) {
            const std::string body = (*it)[2];
            std::smatch h;
            if (!std::regex_search(body, h, hint))
                continue;
            ++seen;
            EXPECT_EQ(h[1].str().find("active"), std::string::npos) << (*it)[1];
            EXPECT_NE(h[1].str().find("idle"), std::string::npos) << (*it)[1];
        }
    }
    EXPECT_GE(seen, 2); // the colours page's and the account page's
}

TEST(UserTexts, MailCountsAgreeInNumber) {
    struct {
        long long count;
        const char* text;
    } cases[] = {{0, "0 new Mails"}, {1, "1 new Mail"}, {2, "2 new Mails"}, {21, "21 new Mails"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        EXPECT_EQ(tarn::newMailCountText(c.count), c.text);
        EXPECT_EQ(tarn::trayStateFor(static_cast<int>(c.count), true).hint,
                  std::string("You have ") + c.text);
        EXPECT_EQ(tarn::composeNewMailNotice("Work", c.count, {}).summary,
                  std::string(c.text) + " - Work");
    }
}

} // namespace
