#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/NewMailNoticeText.h"
#include "core/Utf8.h"

using tarn::composeNewMailNotice;
using tarn::NoticeMessage;

namespace {

std::vector<std::string> bodyLines(const std::string& body) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t nl = body.find('\n', start);
        out.push_back(body.substr(start, nl - start));
        if (nl == std::string::npos)
            return out;
        start = nl + 1;
    }
}

std::size_t characters(const std::string& s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); i += tarn::utf8StepAt(s, i).length)
        ++n;
    return n;
}

} // namespace

TEST(NewMailNoticeText, SummaryNamesCountAndAccount) {
    EXPECT_EQ(composeNewMailNotice("Work", 3, {}).summary, "3 new Mails - Work");
    EXPECT_EQ(composeNewMailNotice("", 1, {}).summary, "1 new Mail");
    EXPECT_EQ(composeNewMailNotice("Evil\n<b>name</b>", 2, {}).summary,
              "2 new Mails - Evil <b>name</b>"); // plain text: no markup there
}

TEST(NewMailNoticeText, WhatServersSendReachesTheBodySafe) {
    struct Case {
        const char* name;
        NoticeMessage message;
        std::string line;
    };
    const Case cases[] = {
        {"plain",
         {"Carol <carol@example.org>", "Lunch?"},
         "Carol &lt;carol@example.org&gt;: Lunch?"},
        {"markup in the subject",
         {"a@b", "<b>bold</b> & <a href='x'>link</a>"},
         "a@b: &lt;b&gt;bold&lt;/b&gt; &amp; &lt;a href='x'&gt;link&lt;/a&gt;"},
        {"line breaks and tabs", {"a@b", "one\r\ntwo\tthree\x01 four"}, "a@b: one two three four"},
        {"invalid UTF-8 read as Windows-1252",
         {"Ren\xe9", "Caf\xe9 \x80"},
         "Ren\xc3\xa9: Caf\xc3\xa9 \xe2\x82\xac"},
        {"valid UTF-8 kept",
         {"J\xc3\xbcrgen", "\xe2\x9c\x93 done"},
         "J\xc3\xbcrgen: \xe2\x9c\x93 done"},
        {"empty subject", {"a@b", ""}, "a@b:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto t = composeNewMailNotice("X", 1, {c.message});
        EXPECT_EQ(t.body, c.line);
        EXPECT_TRUE(tarn::isValidUtf8(t.body));
    }
}

TEST(NewMailNoticeText, LongTextIsCutWithoutSplittingCharactersOrEntities) {
    // 10 kB of subject, with a multi-byte character and markup right at the cut.
    std::string subject(54, 'x');
    subject += "\xc3\xa9&<>";
    subject += std::string(10 * 1024, 'y');
    const std::string sender(300, 's');
    const auto t = composeNewMailNotice("X", 1, {{sender, subject}});
    const std::vector<std::string> lines = bodyLines(t.body);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(tarn::isValidUtf8(t.body));
    // The sender takes at most 40 characters, the line at most 100 before escaping.
    EXPECT_EQ(lines[0].substr(0, 46), std::string(40, 's') + "\xe2\x80\xa6: x");
    std::string unescaped = lines[0];
    for (const auto& [entity, ch] :
         {std::pair<std::string, std::string>{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
        for (std::size_t at; (at = unescaped.find(entity)) != std::string::npos;)
            unescaped.replace(at, entity.size(), ch);
    }
    EXPECT_LE(characters(unescaped), 101u);
    EXPECT_EQ(unescaped.substr(unescaped.size() - 3), "\xe2\x80\xa6");
    // Every & left in the body starts an entity.
    for (std::size_t at = t.body.find('&'); at != std::string::npos;
         at = t.body.find('&', at + 1)) {
        const std::string rest = t.body.substr(at, 5);
        EXPECT_TRUE(rest.rfind("&lt;", 0) == 0 || rest.rfind("&gt;", 0) == 0 ||
                    rest.rfind("&amp;", 0) == 0)
            << rest;
    }
}

TEST(NewMailNoticeText, AtMostTheLastFiveMessages) {
    std::vector<NoticeMessage> seven;
    for (int k = 1; k <= 7; ++k)
        seven.push_back({"s" + std::to_string(k), "m" + std::to_string(k)});
    const auto t = composeNewMailNotice("X", 7, seven);
    EXPECT_EQ(t.summary, "7 new Mails - X");
    EXPECT_EQ(bodyLines(t.body),
              (std::vector<std::string>{"s3: m3", "s4: m4", "s5: m5", "s6: m6", "s7: m7"}));
}
