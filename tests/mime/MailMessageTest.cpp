#include "mime/MailMessage.h"

#include "core/TarnError.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

using Lines = std::vector<std::string>;

const FixedClock kClock(std::chrono::system_clock::time_point(std::chrono::seconds(1700000000)),
                        60);

double at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    double v = 0;
    EXPECT_TRUE(encodeDateTime(y, mo, d, h, mi, s, v));
    return v;
}

// ---- field lookup -------------------------------------------------------------------------

struct FieldCase {
    const char* name;
    Lines lines;
    std::string field;
    std::string expected;
};

class FieldValueCases : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FieldValueCases, Unfolds) {
    EXPECT_EQ(MailMessage::fieldValue(GetParam().lines, GetParam().field), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FieldValueCases,
    ::testing::Values(
        FieldCase{"Simple", {"Subject: Hello"}, "Subject", "Hello"},
        FieldCase{"AnyCase", {"SUBJECT:Hello"}, "subject", "Hello"},
        FieldCase{"FirstWins", {"Subject: one", "Subject: two"}, "Subject", "one"},
        FieldCase{"Missing", {"From: a@b"}, "Subject", ""},
        FieldCase{"NoColonNoName", {"Subject", "Subject: x"}, "Subject", "x"},
        FieldCase{"ContinuationsJoined",
                  {"Subject: Hello", "  world", "\tagain", "From: x"},
                  "Subject",
                  "Hello world again"},
        FieldCase{"NoExtraSpaceAfterBlank", {"Subject: a ", "   b"}, "Subject", "a b"},
        FieldCase{"EmptyLineEnds", {"Subject: a", "", " b"}, "Subject", "a"},
        FieldCase{"TrailingBlanksKept", {"Subject:\t  padded  "}, "Subject", "padded  "},
        FieldCase{"PrefixIsNotName", {"X-Subject: no", "Subject: yes"}, "Subject", "yes"},
        FieldCase{"EmptyFirstLineThenContinuation", {"Subject:", " folded"}, "Subject", "folded"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MailMessage, CharsetCutOfContentType) {
    const std::pair<const char*, const char*> cases[] = {
        {"text/plain; charset=us-ascii", "text/plain"},
        {"text/plain;charset=\"x\"; format=flowed", "text/plain"},
        {"text/plain; CHARSET =x", "text/plain"},
        {"charset=x", ""},
        {"text/plain; xcharset=1", "text/plain; xcharset=1"},
        {"text/plain; charsets=1", "text/plain; charsets=1"},
        {"multipart/mixed; boundary=\"b\"; charset=x", "multipart/mixed; boundary=\"b\""},
        {"text/plain; charset", "text/plain; charset"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(MailMessage::cutAtCharset(in), out) << in;
}

TEST(MailMessage, BoundaryOfContentType) {
    const std::pair<const char*, const char*> cases[] = {
        {"multipart/mixed; boundary=\"abc-1\"", "ABC-1"},
        {"multipart/mixed; BOUNDARY=\"a b\"; x=y", "A B"},
        {"multipart/mixed; boundary=abc; type=x", "ABC; TYPE=X"},
        {"multipart/mixed; boundary=\"open", "OPEN"},
        {"text/plain", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(MailMessage::boundaryOf(in), out) << in;
}

// ---- derivation ---------------------------------------------------------------------------

MailMessage headerOnly(const Lines& lines) {
    return decodeMessage(lines, true, kClock);
}

TEST(MailMessage, DerivesAllFields) {
    const MailMessage m = headerOnly({
        "Return-Path: <x@y>",
        "From: =?ISO-8859-1?Q?J=F6rg?= <joerg@example.de>",
        "To: A <a@x.org>, B <b@y.org>",
        "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?=",
        " aus Berlin",
        "Date: Tue, 5 Mar 2024 10:00:00 -0500",
        "Message-Id: <123@example.de>",
        "Content-Type: multipart/alternative; boundary=\"xyz\"",
        "Content-Transfer-Encoding: 7bit",
    });
    EXPECT_EQ(m.failure(), "");
    EXPECT_EQ(m.subject(), "Gr\xC3\xBC\xC3\x9F"
                           "e aus Berlin");
    EXPECT_EQ(m.senderName(), "J\xC3\xB6rg");
    EXPECT_EQ(m.senderAddress(), "joerg@example.de");
    EXPECT_EQ(m.senderText(), "\"J\xC3\xB6rg\" <joerg@example.de>");
    EXPECT_NEAR(m.date(), at(2024, 3, 5, 16), 1e-6);
    EXPECT_EQ(m.messageId(), "<123@example.de>");
    EXPECT_EQ(m.contentType(), "multipart/alternative; boundary=\"xyz\"");
    EXPECT_EQ(m.contentTransferEncoding(), "7bit");
    EXPECT_EQ(m.boundaries(), Lines{"XYZ"});
    EXPECT_EQ(m.headerText(),
              "Return-Path: <x@y>\r\nFrom: =?ISO-8859-1?Q?J=F6rg?= <joerg@example.de>\r\n"
              "To: A <a@x.org>, B <b@y.org>\r\nSubject: =?ISO-8859-1?Q?Gr=FC=DFe?=\r\n"
              " aus Berlin\r\nDate: Tue, 5 Mar 2024 10:00:00 -0500\r\n"
              "Message-Id: <123@example.de>\r\n"
              "Content-Type: multipart/alternative; boundary=\"xyz\"\r\n"
              "Content-Transfer-Encoding: 7bit\r\n");
}

TEST(MailMessage, FailureLeavesLaterFieldsUnset) {
    const Lines common = {"Content-Type: multipart/mixed; boundary=b",
                          "Date: 5 Mar 2024 10:00:00 +0000", "Message-Id: <m@x>"};
    {
        // A broken encoded word is no failure: it stays as written and the rest is derived.
        Lines l = common;
        l.push_back("Subject: =?ISO-8859-1?Q?bad=ZZ?=");
        l.push_back("From: a@x.org");
        const MailMessage m = headerOnly(l);
        EXPECT_EQ(m.failure(), "");
        EXPECT_EQ(m.subject(), "=?ISO-8859-1?Q?bad=ZZ?=");
        EXPECT_EQ(m.senderAddress(), "a@x.org");
        EXPECT_EQ(m.messageId(), "<m@x>");
        EXPECT_NE(m.date(), 0);
    }
    {
        Lines l = common;
        l.push_back("Subject: fine");
        l.push_back("From: a@x.org");
        l.push_back("Cc: Someone <s@x.org> oops@y.org");
        const MailMessage m = headerOnly(l);
        EXPECT_EQ(m.failure(), "@ Outside address");
        EXPECT_EQ(m.subject(), "fine");
        EXPECT_EQ(m.senderText(), "a@x.org");
        EXPECT_EQ(m.messageId(), "<m@x>");
        EXPECT_EQ(m.date(), 0);
        EXPECT_TRUE(m.boundaries().empty());
        EXPECT_EQ(m.headerLines().size(), 6u);
    }
}

TEST(MailMessage, ClearEmptiesEverything) {
    MailMessage m =
        decodeMessage({"Subject: s", "From: a@b.c", "Date: 5 Mar 2024", "", "body"}, false, kClock);
    ASSERT_NE(m.date(), 0);
    m.clear();
    EXPECT_EQ(m.subject(), "");
    EXPECT_EQ(m.senderText(), "");
    EXPECT_EQ(m.date(), 0);
    EXPECT_EQ(m.headerText(), "");
    EXPECT_EQ(m.bodyText(), "");
}

TEST(MailMessage, HeaderOnlyLeavesOutEmptyLines) {
    const MailMessage m = headerOnly({"Subject: s", "", "X-A: 1", ""});
    EXPECT_EQ(m.headerText(), "Subject: s\r\nX-A: 1\r\n");
}

// ---- bodies -------------------------------------------------------------------------------

MailMessage whole(const Lines& lines) {
    return decodeMessage(lines, false, kClock);
}

TEST(MailMessage, PlainBodyWithDotStuffing) {
    const MailMessage m = whole({"Subject: s", "", "line one", "..", "..dots", ".", "after"});
    EXPECT_EQ(m.bodyText(), "line one\r\n.\r\n.dots\r\n");
}

TEST(MailMessage, MultipartAlternative) {
    const MailMessage m = whole({
        "Content-Type: multipart/alternative; boundary=\"=_alt\"",
        "",
        "This is a multi-part message.",
        "--=_ALT",
        "Content-Type: text/plain; charset=iso-8859-1",
        "Content-Transfer-Encoding: quoted-printable",
        "",
        "Gr=FC=DFe, a long =",
        "line.",
        "--=_alt",
        "Content-Type: text/html",
        "",
        "<p>Hi</p>",
        "--=_alt--",
        "epilogue",
    });
    EXPECT_EQ(m.failure(), "");
    ASSERT_EQ(m.textParts().size(), 2u);
    EXPECT_EQ(m.textParts()[0].contentType, "text/plain; charset=iso-8859-1");
    EXPECT_EQ(m.textParts()[0].transferEncoding, "quoted-printable");
    // The HTML part gets the tag by which the message window knows it...
    EXPECT_EQ(m.textParts()[1].lines, (Lines{"<html>", "<p>Hi</p>", "</html>"}));
    EXPECT_TRUE(m.textParts()[1].html);
    // ...but with a plain alternative only that is shown, converted from its charset.
    EXPECT_EQ(m.bodyText(), "This is a multi-part message.\r\nepilogue\r\n"
                            "Gr\xC3\xBC\xC3\x9F"
                            "e, a long line.\r\n");
    EXPECT_TRUE(m.boundaries().empty());
}

TEST(MailMessage, NestedMultipartWithAttachmentsIsFlat) {
    const MailMessage m = whole({
        "Content-Type: multipart/mixed; boundary=outer",
        "",
        "--outer",
        "Content-Type: multipart/alternative;",
        "\tboundary=\"inner\"",
        "",
        "--inner",
        "Content-Type: text/plain",
        "",
        "plain text",
        "--inner",
        "Content-Type: text/html",
        "Content-Transfer-Encoding: base64",
        "",
        "PGI+aHRtbDwvYj4NCnNlY29uZA==",
        "--inner--",
        "--outer",
        "Content-Type: application/pdf",
        "Content-Disposition: attachment; filename=\"a.pdf\"",
        "Content-Transfer-Encoding: base64",
        "",
        "JVBERi0xLjQK",
        "--outer",
        "Content-Type: image/png; name=\"x.png\"",
        "",
        "not kept",
        "--outer",
        "Content-Type: text/plain",
        "Content-Disposition: inline",
        "",
        "footer",
        "--outer--",
    });
    EXPECT_EQ(m.failure(), "");
    // The inner alternative shows its plain text; attachments follow the text.
    EXPECT_EQ(m.bodyText(), "plain text\r\nfooter\r\n\r\n"
                            "[Attachment: a.pdf, application/pdf, 9 bytes]\r\n"
                            "[Attachment: x.png, image/png, 8 bytes]\r\n");
}

TEST(MailMessage, SinglePartBodies) {
    struct Case {
        const char* name;
        Lines header;
        Lines body;
        std::string expected;
    };
    const Case cases[] = {
        {"QuotedPrintable",
         {"Content-Type: text/plain; charset=iso-8859-1",
          "Content-Transfer-Encoding: Quoted-Printable"},
         {"Caf=E9 au =", "lait", "=3D end"},
         "Caf\xC3\xA9 au lait\r\n= end\r\n"},
        {"Base64",
         {"Content-Transfer-Encoding: base64"},
         {"SGVsbG8sIHdvcmxkIQ0KU2Vjb25k", "IGxpbmUNCg=="},
         "Hello, world!\r\nSecond line\r\n"},
        {"NameMeansAttachment",
         {"Content-Type: application/octet-stream; name=\"data.bin\"",
          "Content-Transfer-Encoding: base64"},
         {"YmluYXJ5"},
         "[Attachment: data.bin, application/octet-stream, 6 bytes]\r\n"},
        {"DispositionAttachment",
         {"Content-Disposition: ATTACHMENT; filename=x.txt",
          "Content-Transfer-Encoding: quoted-printable"},
         {"secret"},
         "[Attachment: x.txt, text/plain, 6 bytes]\r\n"},
        {"SevenBitIsPlain", {"Content-Transfer-Encoding: 7bit"}, {"text", "..x"}, "text\r\n.x\r\n"},
    };
    for (const Case& c : cases) {
        Lines lines = c.header;
        lines.push_back("");
        lines.insert(lines.end(), c.body.begin(), c.body.end());
        const MailMessage m = whole(lines);
        EXPECT_EQ(m.failure(), "") << c.name;
        EXPECT_EQ(m.bodyText(), c.expected) << c.name;
    }
}

TEST(MailMessage, UnquotedBoundaryWithMoreParametersMatchesNoLine) {
    const Lines lines = {
        "Content-Type: multipart/mixed; boundary=abc; report-type=x",
        "",
        "--abc",
        "Content-Type: text/plain",
        "",
        "text",
        "--abc--",
    };
    const MailMessage m = whole(lines);
    EXPECT_EQ(m.boundaries(), Lines{"ABC; REPORT-TYPE=X"});
    EXPECT_TRUE(m.textParts().empty());
    EXPECT_EQ(m.bodyText(), "--abc\r\nContent-Type: text/plain\r\n\r\ntext\r\n--abc--\r\n");
}

TEST(MailMessage, BoundaryAfterCharsetIsLost) {
    const MailMessage m =
        whole({"Content-Type: multipart/mixed; charset=x; boundary=\"b\"", "", "--b", "x"});
    EXPECT_TRUE(m.boundaries().empty());
    EXPECT_EQ(m.bodyText(), "--b\r\nx\r\n");
}

TEST(MailMessage, PartHeaderCutOffByEndOfMessage) {
    for (const bool withEndLine : {true, false}) {
        Lines lines = {"Content-Type: multipart/mixed; boundary=b",
                       "",
                       "preamble",
                       "--b",
                       "Content-Type: text/plain",
                       "",
                       "first part",
                       "--b",
                       "Content-Type: text/html;",
                       " name=x"};
        if (withEndLine)
            lines.push_back(".");
        const MailMessage m = whole(lines);
        EXPECT_EQ(m.failure(), "Unknown Message Part Type.");
        EXPECT_EQ(m.bodyText(), "preamble\r\nfirst part\r\n");
    }
}

TEST(MailMessage, ReadMessageKeepsTheStreamInStep) {
    // Both failures are met, the first is thrown, and the reader stops right after ".".
    const Lines lines = {"Subject: =?ISO-8859-1?Q?=XY?=",
                         "Content-Type: multipart/mixed; boundary=b",
                         "",
                         "--b",
                         "Content-Type: text/plain",
                         ".",
                         "+OK next reply"};
    const LineReader reader = vectorLineReader(lines);
    MailMessage m;
    EXPECT_THROW(m.readMessage(reader, kClock), TarnError);
    EXPECT_FALSE(m.failure().empty());
    std::string next;
    ASSERT_TRUE(reader(next));
    EXPECT_EQ(next, "+OK next reply");
}

TEST(MailMessage, ImapFramingEndsAtParenthesisWithoutUnstuffing) {
    const Lines lines = {"Subject: s", "", ".", "..x", ".y", ")", "A3 OK done"};
    const LineReader reader = vectorLineReader(lines);
    MailMessage m;
    m.readMessage(reader, kClock, MailMessage::Framing::imap4());
    EXPECT_EQ(m.bodyText(), ".\r\n..x\r\n.y\r\n");
    std::string next;
    ASSERT_TRUE(reader(next));
    EXPECT_EQ(next, "A3 OK done");
}

TEST(MailMessage, FetchedLinesAreNotUnstuffedAgain) {
    // Pop3Client hands over body lines already unstuffed: "." is a real line here.
    const MailMessage m =
        decodeFetchedMessage({"Content-Type: multipart/mixed; boundary=b", "Subject: s"}, true,
                             {".", "--b", "Content-Type: text/plain", "", ".x", "--b--"}, kClock);
    EXPECT_EQ(m.subject(), "s");
    EXPECT_EQ(m.bodyText(), ".\r\n.x\r\n");
    const MailMessage h = decodeFetchedMessage({"Subject: only"}, false, {"ignored"}, kClock);
    EXPECT_EQ(h.subject(), "only");
    EXPECT_EQ(h.bodyText(), "");
}

TEST(MailMessage, Base64TextPartSplitsAtAnyLineBreak) {
    // "a\rb\nc\r\n\r\nd" -> a, b, c, (empty), d
    const MailMessage m = whole({"Content-Transfer-Encoding: base64", "", "YQ1iCmMNCg0KZA=="});
    EXPECT_EQ(m.bodyText(), "a\r\nb\r\nc\r\n\r\nd\r\n");
}

TEST(MailMessage, SplitReceivedLinesLikeTheConnection) {
    EXPECT_EQ(splitReceivedLines("a\r\nb\n\r\nc\rd"), (Lines{"a", "b", "", "c\rd"}));
    EXPECT_EQ(splitReceivedLines("x\n"), Lines{"x"});
    EXPECT_TRUE(splitReceivedLines("").empty());
}

} // namespace
} // namespace tarn
