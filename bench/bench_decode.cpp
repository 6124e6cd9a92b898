// Message decoding speed: a 1 MB multipart message (text, HTML, base64 attachment) and the
// header fields of a typical 2 KB header.
#include "mime/MailMessage.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using tarn::FixedClock;
using tarn::MailMessage;

const FixedClock& clock() {
    static const FixedClock c(std::chrono::system_clock::time_point(std::chrono::seconds(1)), 60);
    return c;
}

std::vector<std::string> typicalHeader() {
    std::vector<std::string> h;
    for (int i = 0; i < 8; ++i) {
        h.push_back("Received: from mail" + std::to_string(i) +
                    ".relay.example.net (mail.relay.example.net [192.0.2." + std::to_string(i) +
                    "])");
        h.push_back("\tby mx.example.org (Postfix) with ESMTPS id 4Tq" + std::to_string(i) +
                    "XyZ for <someone@example.org>;");
        h.push_back("\tTue, 5 Mar 2024 10:0" + std::to_string(i) + ":00 +0100 (CET)");
    }
    h.push_back("DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.net; "
                "s=sel1; h=from:to:subject:date:message-id;");
    h.push_back("\tbh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=; "
                "b=dGhpcyBpcyBub3QgYSByZWFsIHNpZ25hdHVyZSBidXQgaXQgaXMgbG9uZw==");
    h.push_back("From: =?ISO-8859-1?Q?J=F6rg_M=FCller?= <joerg.mueller@example.net>");
    h.push_back("To: Someone <someone@example.org>, \"Other, Person\" <other@example.org>");
    h.push_back("Cc: team@example.org");
    h.push_back("Reply-To: <noreply@example.net>");
    h.push_back("Subject: =?ISO-8859-1?Q?Re:_Gr=FC=DFe_aus_M=FCnchen?= and some plain words");
    h.push_back(" =?ISO-8859-1?B?UmVwb3J0IGbkciBkaWUgV29jaGU=?=");
    h.push_back("Date: Tue, 5 Mar 2024 10:00:00 +0100");
    h.push_back("Message-ID: <20240305100000.4Tq0XyZ@mail.example.net>");
    h.push_back("MIME-Version: 1.0");
    h.push_back("Content-Type: multipart/alternative; boundary=\"----=_Part_1234_5678.90\"");
    h.push_back("X-Mailer: Example Mailer 4.2");
    h.push_back("X-Spam-Status: No, score=-1.9 required=5.0 tests=BAYES_00,DKIM_SIGNED,");
    h.push_back("\tDKIM_VALID,SPF_PASS autolearn=ham version=3.4.6");
    return h;
}

std::vector<std::string> bigMultipart() {
    std::vector<std::string> m = {
        "From: Sender <sender@example.net>",
        "To: someone@example.org",
        "Subject: =?ISO-8859-1?Q?Gro=DFe_Nachricht?=",
        "Date: Tue, 5 Mar 2024 10:00:00 +0100",
        "Content-Type: multipart/mixed; boundary=\"outer\"",
        "",
        "This is a multi-part message in MIME format.",
        "--outer",
        "Content-Type: multipart/alternative; boundary=\"inner\"",
        "",
        "--inner",
        "Content-Type: text/plain; charset=iso-8859-1",
        "Content-Transfer-Encoding: quoted-printable",
        "",
    };
    for (int i = 0; i < 2000; ++i) // ~150 KB
        m.push_back("Zeile " + std::to_string(i) +
                    ": Gr=FC=DFe aus M=FCnchen, dies ist ein l=E4ngerer Text mit =3D und =");
    m.push_back("--inner");
    m.push_back("Content-Type: text/html; charset=iso-8859-1");
    m.push_back("");
    for (int i = 0; i < 3000; ++i) // ~230 KB
        m.push_back("<p class=\"line\">Line " + std::to_string(i) +
                    " of the HTML part with <b>markup</b> and text.</p>");
    m.push_back("--inner--");
    m.push_back("--outer");
    m.push_back("Content-Type: application/pdf; name=\"report.pdf\"");
    m.push_back("Content-Disposition: attachment; filename=\"report.pdf\"");
    m.push_back("Content-Transfer-Encoding: base64");
    m.push_back("");
    const std::string b64 = "JVBERi0xLjQKJcfsj6IKNSAwIG9iago8PC9MZW5ndGggNiAwIFIvRmlsdGVyIC9GbGF0ZU"
                            "Rl";
    for (int i = 0; i < 8500; ++i) // ~650 KB
        m.push_back(b64);
    m.push_back("--outer--");
    return m;
}

void BM_DecodeMultipart1MB(benchmark::State& state) {
    const auto lines = bigMultipart();
    std::size_t bytes = 0;
    for (const auto& l : lines)
        bytes += l.size() + 2;
    for (auto _ : state) {
        MailMessage m = tarn::decodeMessage(lines, false, clock());
        std::string body = m.bodyText();
        benchmark::DoNotOptimize(body);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["message_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_DecodeMultipart1MB)->Unit(benchmark::kMillisecond);

void BM_DecodeMultipart1MBFromBytes(benchmark::State& state) {
    std::string raw;
    for (const auto& l : bigMultipart())
        raw += l + "\r\n";
    for (auto _ : state) {
        MailMessage m = tarn::decodeMessage(tarn::splitReceivedLines(raw), false, clock());
        std::string body = m.bodyText();
        benchmark::DoNotOptimize(body);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * raw.size()));
}
BENCHMARK(BM_DecodeMultipart1MBFromBytes)->Unit(benchmark::kMillisecond);

void BM_DeriveHeader2KB(benchmark::State& state) {
    const auto header = typicalHeader();
    std::size_t bytes = 0;
    for (const auto& l : header)
        bytes += l.size() + 2;
    for (auto _ : state) {
        MailMessage m = tarn::decodeFetchedMessage(header, false, {}, clock());
        benchmark::DoNotOptimize(m.subject());
        std::string sender = m.senderText();
        benchmark::DoNotOptimize(sender);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["header_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_DeriveHeader2KB)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
