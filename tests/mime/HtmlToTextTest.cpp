#include "mime/HtmlToText.h"

#include <gtest/gtest.h>

#include <string>

namespace tarn {
namespace {

std::string rep(const std::string& s, int n) {
    std::string out;
    out.reserve(s.size() * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

std::string manyAttributes(int n) {
    std::string html = "<p";
    for (int i = 0; i < n; ++i)
        html += " a" + std::to_string(i) + "=1";
    return html + ">attributes</p>";
}

// Input meant to exhaust the parser or the walk over its tree still converts, and the text
// in it survives.
TEST(HtmlToText, HostileInputConvertsAndKeepsItsText) {
    struct Case {
        const char* name;
        std::string html;
        std::string mustContain;
    };
    const Case cases[] = {
        {"nesting 100000 deep", rep("<div>", 100000) + "deep" + rep("</div>", 100000), "deep"},
        {"formatting 100000 deep", rep("<b><i>", 50000) + "bold", "bold"},
        {"tables 20000 deep", rep("<table><tr><td>", 20000) + "cell", "cell"},
        {"100000 distinct attributes in one tag", manyAttributes(100000), "attributes"},
        {"10 MB attribute", "<a title=\"" + std::string(10 << 20, 'x') + "\">link</a>", "link"},
        {"unclosed everything", rep("<p><b><ul><li><table><tr><td><a href=x>", 5000) + "end",
         "end"},
        {"invalid UTF-8", "<p>a\xC3\x28\xFF\xFE z</p>", "z"},
    };
    for (const Case& c : cases) {
        const std::string text = htmlToText(c.html);
        EXPECT_NE(text.find(c.mustContain), std::string::npos) << c.name;
        EXPECT_LE(text.size(), 4 * c.html.size()) << c.name;
    }
}

// What the parser might take from the input besides its markup: a declared charset, a NUL,
// entities of every kind.
TEST(HtmlToText, TextComesOutAsWrittenWhateverTheDocumentClaims) {
    struct Case {
        const char* name;
        std::string html;
        std::string text;
    };
    const Case cases[] = {
        {"meta charset of another encoding",
         "<html><head><meta charset=\"iso-8859-1\"></head><body>Gr\xC3\xBC\xC3\x9F"
         "e</body></html>",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"meta http-equiv charset",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=koi8-r\">"
         "<p>\xE2\x82\xAC 5</p>",
         "\xE2\x82\xAC 5"},
        {"NUL in the text", std::string("<p>a\0b</p>", 11), "ab"},
        {"named, decimal and hex entities",
         "<p>&hellip; &apos;q&apos; &quot;x&quot; &#8364;&#x20ac; &copy;</p>",
         "\xE2\x80\xA6 'q' \"x\" \xE2\x82\xAC\xE2\x82\xAC \xC2\xA9"},
        {"unknown entity kept", "<p>&bogus; a & b</p>", "&bogus; a & b"},
        {"comment and processing instruction dropped", "<p>a<!-- b -->c<?php d ?>e</p>", "ace"},
        {"trailing angle", "<p>x</p>a<", "x\r\n\r\na<"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(htmlToText(c.html), c.text) << c.name;
}

TEST(HtmlToText, NestedListsIndentAndNumber) {
    EXPECT_EQ(htmlToText("<ol><li>a<ul><li>x<li>y</ul><li>b</ol>"),
              "1. a\r\n  \xE2\x80\xA2 x\r\n  \xE2\x80\xA2 y\r\n2. b");
}

} // namespace
} // namespace tarn
