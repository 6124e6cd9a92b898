#include "mime/EncodedWordDecoder.h"
#include "mime/MailAddress.h"
#include "mime/MailMessage.h"
#include "mime/MessageDate.h"

#include "core/TarnError.h"

#include <gtest/gtest.h>

#include <random>

namespace tarn {
namespace {

const char* const kSeed = "From: \"Doe, J\" <j@x.org>\n"
                          "To: a@b.c, B <b@c.d>\n"
                          "Subject: =?ISO-8859-1?Q?Caf=E9?= =?ISO-2022-JP?B?GyRCMCEbKEI=?=\n"
                          "Date: Tue, 5 Mar 2024 10:00:00 -0500\n"
                          "Content-Type: multipart/mixed; boundary=\"o\"\n"
                          "\n"
                          "pre\n"
                          "--o\n"
                          "Content-Type: multipart/alternative; boundary=i\n"
                          "\n"
                          "--i\n"
                          "Content-Type: text/plain\n"
                          "Content-Transfer-Encoding: quoted-printable\n"
                          "\n"
                          "a=3Db =\n"
                          "..c\n"
                          "--i\n"
                          "Content-Transfer-Encoding: base64\n"
                          "\n"
                          "SGVsbG8=\n"
                          "--i--\n"
                          "--o\n"
                          "Content-Disposition: attachment\n"
                          "\n"
                          "data\n"
                          "--o--\n";

const std::string_view kTokens[] = {"=?ISO-8859-1?Q?",
                                    "=?iso?b?",
                                    "?=",
                                    "=",
                                    "=ZZ",
                                    "--o",
                                    "--i--",
                                    "\n",
                                    "\r",
                                    " ",
                                    "\t",
                                    ":",
                                    "<",
                                    ">",
                                    "@",
                                    "(",
                                    ")",
                                    "\"",
                                    "\\",
                                    ".",
                                    "\n.\n",
                                    "\x1B$B",
                                    "boundary=",
                                    "charset=",
                                    "Mon, ",
                                    "-",
                                    "+0100",
                                    "\n\n",
                                    std::string_view("\0", 1)};

std::string mutate(std::mt19937& rng, std::string s) {
    std::uniform_int_distribution<int> ops(1, 8);
    const int n = ops(rng);
    for (int k = 0; k < n; ++k) {
        const std::size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
        switch (rng() % 4) {
        case 0: // insert a token
            s.insert(pos, kTokens[rng() % (sizeof kTokens / sizeof *kTokens)]);
            break;
        case 1: // flip a byte
            if (pos < s.size())
                s[pos] = static_cast<char>(rng());
            break;
        case 2: // cut a range
            if (pos < s.size())
                s.erase(pos, rng() % 40);
            break;
        default: // duplicate a range
            if (pos < s.size())
                s.insert(pos, s.substr(pos, rng() % 200));
            break;
        }
    }
    return s;
}

std::string randomBytes(std::mt19937& rng) {
    std::string s(rng() % 600, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

TEST(MessageDecodingRobustness, RandomAndMutatedInputsDecodeWithinBounds) {
    const FixedClock clock(std::chrono::system_clock::time_point(std::chrono::seconds(1)), -90);
    std::mt19937 rng(20240305);
    for (int i = 0; i < 4000; ++i) {
        const std::string input = (i % 4 == 0) ? randomBytes(rng) : mutate(rng, kSeed);
        const auto lines = splitReceivedLines(input);
        // Every line may gain a CR LF in the stored texts, nothing else may grow.
        const std::size_t bound = 3 * input.size() + 16;
        for (const bool headersOnly : {false, true}) {
            const MailMessage m = decodeMessage(lines, headersOnly, clock);
            EXPECT_LE(m.bodyText().size(), bound) << i;
            EXPECT_LE(m.headerText().size(), bound) << i;
            // Each byte becomes at most one character of three UTF-8 bytes.
            EXPECT_LE(m.subject().size(), 3 * input.size()) << i;
            EXPECT_LE(m.senderText().size(), bound) << i;
            EXPECT_LT(m.date(), 2958466.0) << i; // before the year 10000
            if (!m.failure().empty()) {
                EXPECT_TRUE(m.failure() == "Unknown Message Part Type." ||
                            m.failure() == "@ Outside address" ||
                            m.failure().find("encoded") != std::string::npos)
                    << m.failure();
            }
        }
        const std::size_t cut = input.empty() ? 0 : rng() % input.size();
        std::vector<std::string> header(lines.begin(), lines.begin() + (cut % (lines.size() + 1)));
        const MailMessage f = decodeFetchedMessage(header, true, lines, clock);
        EXPECT_LE(f.bodyText().size(), 3 * input.size() + 16) << i;

        const std::string_view field(input.data(), std::min<std::size_t>(input.size(), 120));
        EXPECT_GE(MessageDate::decode(field, clock), -1.0);
        try {
            EXPECT_LE(EncodedWordDecoder::decode(field).size(), 3 * field.size());
            EXPECT_LE(MailAddress::parse(field).text().size(), 2 * field.size() + 8);
        } catch (const TarnError&) {
        }
    }
}

} // namespace
} // namespace tarn
