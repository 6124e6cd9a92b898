// What the stored body of a message reads like: alternatives chosen, charsets converted,
// flowed text joined, forwarded messages introduced, attachments listed.
#include "core/Clock.h"
#include "mime/MailMessage.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

using Lines = std::vector<std::string>;

const FixedClock kClock(std::chrono::sys_days{std::chrono::year{2024} / 3 / 5}, 0);

struct BodyCase {
    const char* name;
    Lines message; // header, empty line, body
    std::string expected;
};

class MessageBody : public ::testing::TestWithParam<BodyCase> {};

TEST_P(MessageBody, ReadsAsExpected) {
    const MailMessage m = decodeMessage(GetParam().message, false, kClock);
    EXPECT_EQ(m.failure(), "");
    EXPECT_EQ(m.bodyText(), GetParam().expected);
}

const std::string kGruesse = "Gr\xC3\xBC\xC3\x9F"
                             "e";

INSTANTIATE_TEST_SUITE_P(
    Table, MessageBody,
    ::testing::Values(
        BodyCase{"HtmlOnlyAlternativeShowsHtml",
                 {"Content-Type: multipart/alternative; boundary=b", "", "--b",
                  "Content-Type: text/html; charset=utf-8", "", "<p>Hi &euro;</p>", "--b--"},
                 "<html>\r\n<p>Hi &euro;</p>\r\n</html>\r\n"},
        BodyCase{"PlainPreferredInsideRelated",
                 {"Content-Type: multipart/alternative; boundary=a", "", "--a",
                  "Content-Type: text/plain", "", "plain", "--a",
                  "Content-Type: multipart/related; boundary=r", "", "--r",
                  "Content-Type: text/html", "", "<html><b>x</b></html>", "--r--", "--a--"},
                 "plain\r\n"},
        BodyCase{"Koi8r8Bit",
                 {"Content-Type: text/plain; charset=\"KOI8-R\"", "Content-Transfer-Encoding: 8bit",
                  "", "\xD0\xD2\xC9\xD7\xC5\xD4"},
                 "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\r\n"},
        BodyCase{"Windows1252QuotedPrintable",
                 {"Content-Type: text/plain; charset=windows-1252",
                  "Content-Transfer-Encoding: quoted-printable", "", "12,50 =80"},
                 "12,50 \xE2\x82\xAC\r\n"},
        BodyCase{"Iso2022Jp7Bit",
                 {"Content-Type: text/plain; charset=ISO-2022-JP", "", "\x1B$B$3$s$K$A$O\x1B(B"},
                 "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF\r\n"},
        BodyCase{"Utf8Base64InPart",
                 {"Content-Type: multipart/mixed; boundary=m", "", "--m",
                  "Content-Type: text/plain; charset=UTF-8", "Content-Transfer-Encoding: base64",
                  "", "R3LDvMOfZQ==", "--m--"},
                 kGruesse + "\r\n"},
        BodyCase{"NoCharsetRawLatin1",
                 {"Subject: x", "",
                  "Gr\xFC\xDF"
                  "e"},
                 kGruesse + "\r\n"},
        BodyCase{"Flowed",
                 {"Content-Type: text/plain; format=flowed", "", "This is a ", "flowed line.",
                  "> quoted ", "> more", ">> deeper", " >not quoted", "-- ", "sig"},
                 "This is a flowed line.\r\n> quoted more\r\n>> deeper\r\n>not quoted\r\n-- "
                 "\r\nsig\r\n"},
        BodyCase{"FlowedDelSp",
                 {"Content-Type: text/plain; format=flowed; delsp=yes", "", "Hal ", "lo"},
                 "Hallo\r\n"},
        BodyCase{"ForwardedMessage",
                 {"Content-Type: multipart/mixed; boundary=f", "", "--f",
                  "Content-Type: text/plain", "", "See below.", "--f",
                  "Content-Type: message/rfc822", "", "From: =?UTF-8?Q?J=C3=BCrgen?= <j@x.org>",
                  "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?=", "Date: Tue, 5 Mar 2024 10:00:00 +0000",
                  "Content-Type: text/plain; charset=iso-8859-1", "", "Inner caf\xE9", "--f--"},
                 "See below.\r\nFrom: \"J\xC3\xBCrgen\" <j@x.org>\r\nSubject: " + kGruesse +
                     "\r\nDate: Tue, 5 Mar 2024 10:00:00 +0000\r\n\r\nInner caf\xC3\xA9\r\n"},
        BodyCase{"AttachmentNames",
                 {"Content-Type: multipart/mixed; boundary=z",
                  "",
                  "--z",
                  "Content-Type: text/plain",
                  "",
                  "Text",
                  "--z",
                  "Content-Type: application/pdf",
                  "Content-Disposition: attachment; filename*=UTF-8''Gr%C3%BC%C3%9Fe.pdf",
                  "Content-Transfer-Encoding: base64",
                  "",
                  std::string(1368, 'A'),
                  "--z",
                  "Content-Type: image/jpeg; name=\"=?UTF-8?B?R3LDvMOfZQ==?=.jpg\"",
                  "",
                  "abc",
                  "--z",
                  "Content-Type: text/calendar",
                  "Content-Disposition: attachment;",
                  " filename*0*=utf-8''a%C3%BC;",
                  " filename*1=\"b.ics\"",
                  "",
                  "x",
                  "--z--"},
                 "Text\r\n\r\n[Attachment: " + kGruesse +
                     ".pdf, application/pdf, 1 KB]\r\n[Attachment: " + kGruesse +
                     ".jpg, image/jpeg, 3 bytes]\r\n[Attachment: a\xC3\xBC"
                     "b.ics, text/calendar, 1 bytes]\r\n"},
        BodyCase{"HtmlWithoutTagGetsOne",
                 {"Content-Type: text/html", "", "<p>a</p>"},
                 "<html>\r\n<p>a</p>\r\n</html>\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tarn
