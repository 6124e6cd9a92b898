// What the message window shows: the HTML conversion and the 80-column wrapping of a body.
// Typical HTML bodies of 1 MB and 20 MB, sizes from 1 to 16 MB to show the time grows in
// step with the size, and the bodies that would make a careless scan quadratic.
#include "mime/ConvertMessageText.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

using tarn::ConvertMessageText;

// A plain part, then an HTML newsletter: a style block, headings, paragraphs with inline
// tags, entities, table rows and long lines, repeated to the size wanted.
std::string htmlBody(std::size_t size) {
    std::string s = "Hello,\r\nthis message has an HTML part.\r\n\r\n<html>\r\n<head><style "
                    "type=\"text/css\">\r\np { margin: 0; font-family: Arial; }\r\n"
                    "td { padding: 2px; }\r\n</style></head>\r\n<body>\r\n";
    std::mt19937 rng(5);
    const char* words[] = {"the",
                           "mail",
                           "checker",
                           "shows",
                           "new",
                           "messages",
                           "&nbsp;",
                           "<b>",
                           "</b>",
                           "account",
                           "&amp;",
                           "server",
                           "Gr\xC3\xBC\xC3\x9F"
                           "e",
                           "<br>",
                           "quickly",
                           "-",
                           "list."};
    int para = 0;
    while (s.size() < size) {
        s += (para % 5 == 0) ? "<h2>Section</h2>\r\n<p>" : "<p>";
        const int n = 40 + static_cast<int>(rng() % 120);
        for (int i = 0; i < n; ++i) {
            s += words[rng() % std::size(words)];
            s += (i % 14 == 13) ? "\r\n" : " ";
        }
        s += "</p>\r\n<table><tr><td>cell</td><td>&#149; item</td></tr></table>\r\n";
        ++para;
    }
    s += "</body>\r\n</html>\r\n";
    return s;
}

void runConversion(benchmark::State& state, const std::string& body, bool convert, bool wrap) {
    for (auto _ : state) {
        std::string out = ConvertMessageText(body, convert, wrap);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(body.size()));
}

void BM_Html(benchmark::State& state) {
    const std::string body = htmlBody(static_cast<std::size_t>(state.range(0)) << 20);
    runConversion(state, body, true, true);
}
BENCHMARK(BM_Html)->Arg(1)->Arg(4)->Arg(16)->Arg(20)->Unit(benchmark::kMillisecond);

void BM_HtmlOnly(benchmark::State& state) {
    runConversion(state, htmlBody(1 << 20), true, false);
}
BENCHMARK(BM_HtmlOnly)->Unit(benchmark::kMillisecond);

void BM_WrapOnly(benchmark::State& state) {
    runConversion(state, htmlBody(1 << 20), false, true);
}
BENCHMARK(BM_WrapOnly)->Unit(benchmark::kMillisecond);

// Bodies chosen to hurt: one 5 MB line without a blank, 5 MB of '<', an unterminated style
// block, and 5 MB of wide characters without a break.
void BM_Hostile(benchmark::State& state) {
    const std::size_t mb5 = 5u << 20;
    std::string body;
    switch (state.range(0)) {
    case 0:
        body = std::string(mb5, 'x');
        break;
    case 1:
        body = "<html>" + std::string(mb5, '<');
        break;
    case 2:
        body = "<html><style>" + std::string(mb5, 'x');
        break;
    default:
        for (std::size_t i = 0; i < mb5 / 3; ++i)
            body += "\xE4\xB8\xAD";
        break;
    }
    runConversion(state, body, true, true);
}
BENCHMARK(BM_Hostile)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
