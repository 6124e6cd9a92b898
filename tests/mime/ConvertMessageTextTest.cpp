#include "mime/ConvertMessageText.h"
#include "core/Utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

namespace tarn {
namespace {

using namespace std::string_literals;

std::string rep(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// The banners, written out here on their own so that a changed dash or tilde shows.
const std::string kTilde(71, '~');
const std::string kStart =
    "\r\n\r\n" + kTilde + "\r\n" +
    "------------------- Start of converted HTML Message -------------------" + "\r\n" + kTilde +
    "\r\n\r\n";
const std::string kEnd = "\r\n" + kTilde + "\r\n" +
                         "-------------------- End of converted HTML Message --------------------" +
                         "\r\n" + kTilde + "\r\n\r\n";

struct Case {
    const char* name;
    std::string body;
    bool convert;
    bool wrap;
    std::string expected;
};

// A line of n letters with a blank at the given 1-based position.
std::string lineWithBlankAt(int n, int blankAt) {
    std::string s(n, 'x');
    s[blankAt - 1] = ' ';
    return s;
}

TEST(ConvertMessageText, Table) {
    const std::string e = "\xC3\xA9";        // é: two bytes, one column
    const std::string wide = "\xE4\xB8\xAD"; // 中: three bytes, two columns
    const std::string mixed = "<html>x<br>" + rep("y", 90) + "\r\n&amp; \t  .</html>\r\n";
    const std::vector<Case> cases = {
        // Both steps off: the body exactly as stored.
        {"both off", mixed + lineWithBlankAt(120, 60), false, false,
         mixed + lineWithBlankAt(120, 60)},
        {"plain text untouched", "Dear <b>Bob</b> &amp;  you,\r\nsee   you.\r\n", true, false,
         "Dear <b>Bob</b> &amp;  you,\r\nsee   you.\r\n"},
        {"br", "<html>Hello<br>World<br><br>again", true, false,
         kStart + "Hello\r\nWorld\r\n\r\nagain"},
        {"nbsp twice", "<html>A&nbsp;&nbsp;B", true, false, kStart + "A  B"},
        {"paragraphs apart, either case", "<html>x<P>y<p>z</P>w", true, false,
         kStart + "x\r\n\r\ny\r\n\r\nz\r\n\r\nw"},
        {"entities decoded", "<html>a &amp; b &lt; 12&euro; &#8364; &#x20AC; caf&eacute;", true,
         false, kStart + "a & b < 12\xE2\x82\xAC \xE2\x82\xAC \xE2\x82\xAC caf\xC3\xA9"},
        {"style block", "<html><style type=\"text/css\">p { x: 1 }</style>Text", true, false,
         kStart + "Text"},
        {"style block upper case", "<html><STYLE>a</Style>Text", true, false, kStart + "Text"},
        {"head, script and comments dropped",
         "<html><head><title>T</title><script>var x;</script></head><body><!-- hidden -->Text"
         "<script>alert(1)</script></body></html>",
         true, false, kStart + "Text" + kEnd},
        {"bold pair", "<html><b>bold</b>", true, false, kStart + "bold"},
        {"source line breaks are white space", "<html>one\r\ntwo<br>three\r\n<p>four", true, false,
         kStart + "one two\r\nthree\r\n\r\nfour"},
        {"html without end", "<html>x", true, false, kStart + "x"},
        {"end without start is text", "a</html>b", true, false, "a</html>b"},
        {"whole part", "<HTML>x</HTML>\r\n", true, false, kStart + "x" + kEnd + "\r\n"},
        {"html with attributes", "<html lang=\"de\"><body>x</body></html>", true, false,
         kStart + "x" + kEnd},
        {"doctype starts the part", "<!DOCTYPE html>\r\n<html><body>x</body></html>", true, false,
         kStart + "x" + kEnd},
        {"blank runs keep one", "<html>a    b c", true, false, kStart + "a b c"},
        {"headings", "<html><h1>T</h1><h2>U</h2>a", true, false, kStart + "T\r\n\r\nU\r\n\r\na"},
        {"table rows and cells",
         "<html><table><tr><td>Blue teapot</td><td>12.50</td></tr><tr><th>Cup</th><td>3.00"
         "</table>after",
         true, false, kStart + "Blue teapot\t12.50\r\nCup\t3.00\r\n\r\nafter"},
        {"lists", "<html><ul><li>one<li>two<ol><li>a<li>b</ol></ul>end", true, false,
         kStart + "\xE2\x80\xA2 one\r\n\xE2\x80\xA2 two\r\n  1. a\r\n  2. b\r\n\r\nend"},
        {"link text and target", "<html>See <a href=\"https://shop.example/teapot\">Teapot</a>!",
         true, false, kStart + "See Teapot <https://shop.example/teapot>!"},
        {"links that show their target",
         "<html><a href=\"https://x.org\">https://x.org</a> <a href=\"mailto:a@b.org\">a@b.org</a>"
         " <a href=\"#top\">top</a>",
         true, false, kStart + "https://x.org a@b.org top"},
        {"image alt", "<html><img src=\"logo.png\" alt=\"Tarn Shop\">Sale", true, false,
         kStart + "Tarn Shop Sale"},
        {"pre kept", "<html><pre>  a\r\n   b  c</pre>x", true, false,
         kStart + "  a\r\n   b  c\r\n\r\nx"},
        {"two parts with text between", "pre <i>\r\n<html>a</html>\r\nmid  \r\n<html>b</html>post",
         true, false,
         "pre <i>\r\n" + kStart + "a" + kEnd + "\r\nmid  \r\n" + kStart + "b" + kEnd + "post"},
        {"part right after a part", "<html>a</html><html>b</html>", true, false,
         kStart + "a" + kEnd + kStart + "b" + kEnd},
        {"unterminated style ends with the part", "<html>a<style>b</html>c", true, false,
         kStart + "a" + kEnd + "c"},
        {"unterminated tag dropped", "<html>a<b c d", true, false, kStart + "a"},
        {"lone angle is text", "<html>a<", true, false, kStart + "a<"},
        {"html inside a tag is no part", "<html>a<x <html>b", true, false, kStart + "ab"},
        {"not UTF-8 read as Windows-1252", "<html>caf\xE9 \x80", true, false,
         kStart + "caf\xC3\xA9 \xE2\x82\xAC"},

        // Wrapping at 80 columns.
        {"long word not cut", std::string(100, 'w'), false, true, std::string(100, 'w')},
        {"cut after blank at 70", lineWithBlankAt(85, 70), false, true,
         lineWithBlankAt(70, 70) + "\r\n" + std::string(15, 'x')},
        {"cut before an existing break", lineWithBlankAt(80, 40) + "\r\nmore", false, true,
         lineWithBlankAt(40, 40) + "\r\n" + std::string(40, 'x') + "\r\nmore"},
        {"81 with blank at 71 stays whole", lineWithBlankAt(81, 71), false, true,
         lineWithBlankAt(81, 71)},
        {"leading blank is no break", " " + std::string(90, 'x') + "\r\nmore", false, true,
         " " + std::string(90, 'x') + "\r\nmore"},
        {"hyphen breaks", std::string(75, 'a') + "-" + std::string(10, 'b'), false, true,
         std::string(75, 'a') + "-\r\n" + std::string(10, 'b')},
        {"full stop and tab break",
         std::string(70, 'a') + "." + std::string(5, 'b') + "\t" + std::string(10, 'c'), false,
         true, std::string(70, 'a') + "." + std::string(5, 'b') + "\t\r\n" + std::string(10, 'c')},
        {"several lines", rep("word ", 40), false, true,
         rep("word ", 16) + "\r\n" + rep("word ", 16) + "\r\n" + rep("word ", 8)},
        {"blanks passed over start the next line", std::string(78, 'a') + "   " + "bbbbbbbbbb",
         false, true, std::string(78, 'a') + "  \r\n bbbbbbbbbb"},
        {"blank lines stay", "a\r\n\r\n\r\nb", false, true, "a\r\n\r\n\r\nb"},
        {"wrap after conversion", "<html>" + rep("word ", 20), true, true,
         kStart + rep("word ", 16) + "\r\n" + rep("word ", 3) + "word"},

        // UTF-8: a character is one step; wide characters take two columns; other bytes one.
        {"two-byte characters count one column", rep(e, 69) + " " + rep(e, 15), false, true,
         rep(e, 69) + " \r\n" + rep(e, 15)},
        {"wide characters count two columns", rep(wide, 35) + " " + rep(wide, 10), false, true,
         rep(wide, 35) + " \r\n" + rep(wide, 10)},
        {"wide run not split", rep(wide, 100), false, true, rep(wide, 100)},
        {"invalid bytes count one column each", rep("\xFF", 69) + " " + rep("\xFF", 15), false,
         true, rep("\xFF", 69) + " \r\n" + rep("\xFF", 15)},
        {"one multi-byte character left is too few to break", lineWithBlankAt(80, 71) + e, false,
         true, lineWithBlankAt(80, 71) + e},
        {"html keeps characters", "<html>" + e + "&nbsp;" + wide, true, false,
         kStart + e + " " + wide},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ConvertMessageText(c.body, c.convert, c.wrap), c.expected) << c.name;
    }
}

// Pieces a random body is made of: letters, every break character, line ends, multi-byte
// characters, bytes that are no UTF-8, and the HTML the conversion reacts to.
const std::vector<std::string> kPieces = {
    "a",    "bc",   "defghijkl", " ",        "  ",           "\t",
    "-",    ".",    "\n",        "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80",
    "\xFF", "\xC3", "\xE4\xB8",  "\0"s,      "<br>",         "&nbsp;",
    "<p>",
};

std::string randomBody(std::mt19937& rng, bool withCr) {
    std::uniform_int_distribution<int> len(0, 400);
    std::uniform_int_distribution<std::size_t> pick(0, kPieces.size() - 1);
    std::uniform_int_distribution<int> run(1, 40);
    std::string s;
    const int n = len(rng);
    for (int i = 0; i < n; ++i) {
        const std::string& piece = kPieces[pick(rng)];
        // Now and then a long run, so that lines reach the wrapping column.
        s += piece == "defghijkl" ? std::string(run(rng) * 3, 'w') : piece;
        if (withCr && rng() % 17 == 0)
            s += rng() % 2 ? "\r\n" : "\r";
        if (withCr && rng() % 29 == 0)
            s += rng() % 2 ? "<html>" : "</html>";
    }
    return s;
}

std::vector<std::size_t> stepBoundaries(const std::string& s) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < s.size(); i += utf8StepAt(s, i).length)
        out.push_back(i);
    out.push_back(s.size());
    return out;
}

TEST(ConvertMessageText, BothOffGivesTheBodyBack) {
    std::mt19937 rng(1234);
    for (int i = 0; i < 300; ++i) {
        const std::string body = randomBody(rng, true);
        ASSERT_EQ(ConvertMessageText(body, false, false), body);
    }
}

// Without CR in the input every CR LF in the result was inserted by the wrapping: taking them
// out gives the input back, and each stood after a break character, at a character boundary.
TEST(ConvertMessageText, WrappingOnlyInsertsBreaksBetweenCharacters) {
    std::mt19937 rng(99);
    int inserted = 0;
    for (int i = 0; i < 300; ++i) {
        const std::string body = randomBody(rng, false);
        const std::string wrapped = ConvertMessageText(body, false, true);
        const std::vector<std::size_t> bounds = stepBoundaries(body);
        std::string rest;
        for (std::size_t k = 0; k < wrapped.size(); ++k) {
            if (wrapped.compare(k, 2, "\r\n") == 0) {
                const std::size_t at = rest.size();
                ASSERT_TRUE(std::binary_search(bounds.begin(), bounds.end(), at))
                    << "break inside a character at byte " << at << " of case " << i;
                ASSERT_GT(at, 0u);
                const char before = body[at - 1];
                ASSERT_TRUE(before == ' ' || before == '\t' || before == '-' || before == '.')
                    << "break after '" << before << "' in case " << i;
                ++k;
                ++inserted;
                continue;
            }
            rest += wrapped[k];
        }
        ASSERT_EQ(rest, body) << "case " << i;
    }
    EXPECT_GT(inserted, 100); // the inputs did reach the wrapping column
}

// The wrapping as its rules read, position by position from 1, for ASCII text (where a
// character is a byte), to hold the faster implementation to them.
std::string referenceWrap(const std::string& T) {
    const std::size_t n = T.size();
    auto ch = [&](std::size_t p) { return T[p - 1]; };
    auto isBreak = [](char c) { return c == ' ' || c == '\t' || c == '-' || c == '.'; };
    auto crlfAt = [&](std::size_t p) { return p < n && ch(p) == '\r' && ch(p + 1) == '\n'; };
    std::string R;
    std::size_t pos = 1, col = 1, start = 1, brk = 0;
    bool flag = false;
    while (pos <= n) {
        const char c = ch(pos);
        if (c == '\r') {
            if (crlfAt(pos)) {
                flag = true;
                pos += 1;
                brk = pos;
            }
        } else if (isBreak(c)) {
            brk = pos;
        }
        pos += 1;
        col += 1;
        if (flag || (col > 80 && brk > start)) {
            col = pos - brk;
            R += T.substr(start - 1, brk - start + 1);
            while (pos <= n && (isBreak(ch(pos)) || crlfAt(pos)))
                pos += crlfAt(pos) ? 2 : 1;
            if (!flag && pos < n)
                R += "\r\n";
            start = brk + 1;
            brk = start;
            flag = false;
        }
    }
    R += T.substr(start - 1);
    return R;
}

TEST(ConvertMessageText, WrappingFollowsTheRulesStepByStep) {
    const std::vector<std::string> pieces = {
        "a",       "bc",       "defgh", " ",     "  ",     "\t",
        "-",       ".",        "\n",    "\r\n",  "\r",     "<br>",
        "<P>",     "</p>",     "<h2>",  "</H3>", "</tr>",  "&nbsp;",
        "&#149;",  "&amp;",    "<b>",   "</b>",  "<html>", "</HTML>",
        "<style>", "</style>", "<",     ">",     "\0"s,    "<a href=\"x\">"};
    std::mt19937 rng(2024);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    for (int i = 0; i < 2000; ++i) {
        std::string body;
        const int n = static_cast<int>(rng() % 200);
        for (int k = 0; k < n; ++k) {
            const std::string& piece = pieces[pick(rng)];
            body += piece == "defgh" ? std::string(rng() % 90 + 1, 'w') : piece;
        }
        ASSERT_EQ(wrapLines(body), referenceWrap(body)) << "case " << i;
    }
}

// Text that holds no '<' never enters HTML, so the conversion leaves it alone.
TEST(ConvertMessageText, TextWithoutTagsIsNotConverted) {
    std::mt19937 rng(7);
    for (int i = 0; i < 300; ++i) {
        std::string body = randomBody(rng, true);
        std::erase(body, '<');
        ASSERT_EQ(ConvertMessageText(body, true, false), body);
    }
}

} // namespace
} // namespace tarn
