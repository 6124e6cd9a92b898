// Today's mail read right: a header value of 20 encoded words in several charsets, and HTML
// newsletters of 1 MB and 20 MB turned into text. Figures only; nothing is asserted.
#include "mime/EncodedWordDecoder.h"
#include "mime/HtmlToText.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

std::string twentyWords() {
    const char* const words[] = {"=?UTF-8?B?R3LDvMOfZSBhdXMgTcO8bmNoZW4=?=",
                                 "=?ISO-8859-1?Q?Caf=E9_cr=E8me?=",
                                 "=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?=",
                                 "=?KOI8-R?B?0NLJ18XU?=",
                                 "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=",
                                 "=?windows-1252?Q?12=80?=",
                                 "=?GB2312?B?xOO6ww==?=",
                                 "=?Shift_JIS?B?grGC8YLJgr+CzQ==?=",
                                 "=?UTF-8*de?Q?Gr=C3=BC=C3=9Fe?=",
                                 "=?Big5?B?p0Gmbg==?="};
    std::string v = "Re: ";
    for (int i = 0; i < 20; ++i) {
        v += words[i % 10];
        v += i % 3 == 0 ? " plain " : " ";
    }
    return v;
}

void BM_Decode20EncodedWords(benchmark::State& state) {
    const std::string value = twentyWords();
    for (auto _ : state)
        benchmark::DoNotOptimize(tarn::EncodedWordDecoder::decode(value));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Decode20EncodedWords)->Unit(benchmark::kMicrosecond);

// A newsletter: a product table, paragraphs with links and entities, lists, styles.
std::string newsletter(std::size_t bytes) {
    std::string html = "<!DOCTYPE html><html><head><style>td{color:red}</style>"
                       "<script>var x=1;</script></head><body>";
    int n = 0;
    while (html.size() < bytes) {
        html += "<div class=\"section\"><h2>Offer " + std::to_string(n) +
                "</h2><p>Dear reader, our <b>new</b> teapots &amp; cups cost only 12&euro; "
                "&mdash; <a href=\"https://shop.example/item/" +
                std::to_string(n) +
                "\">see the offer</a>.</p><table><tr><td>Blue teapot</td><td>12.50</td></tr>"
                "<tr><td>Green cup</td><td>3.20</td></tr></table><ul><li>Fast delivery</li>"
                "<li>Free returns</li></ul><img src=\"x.png\" alt=\"Teapot\"></div>\r\n";
        ++n;
    }
    html += "</body></html>";
    return html;
}

void BM_HtmlToText(benchmark::State& state) {
    const std::string html = newsletter(static_cast<std::size_t>(state.range(0)) << 20);
    for (auto _ : state)
        benchmark::DoNotOptimize(tarn::htmlToText(html));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(html.size()));
}
BENCHMARK(BM_HtmlToText)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

BENCHMARK_MAIN();
