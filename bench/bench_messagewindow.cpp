// Opening a message window: the conversion, the bytes to text and the filled text area, for
// a 1 MB HTML body and a 1 MB plain one, as Show Message does it (under the MailDB lock, the
// text filled while the window is invisible, then shown).
#include "check/MailListActions.h"
#include "check/Session.h"
#include "maillist/MessageViewer.h"
#include "maillist/MessageWindowHost.h"
#include "maillist/TF_MessageWindow.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

namespace {

using namespace tarn;

class NoList : public MessageWindowHost {
public:
    int ViewAccount() const override { return 0; }
    void RebuildList(int) override {}
    void ReportStatus(int, int, const std::string&) override {}
    void UpdateFieldCount(int) override {}
    void UpdateTrayState() override {}
    MailListActions& actions() override { return *m_actions; }
    MailListActions* m_actions = nullptr;
    std::vector<std::string> rowUids() const override { return {}; }
    void clearSelection() override {}
    void selectRow(int) override {}
    bool showMessageEnabled() const override { return false; }
    void A_ShowMessageExecute() override {}
};

std::string body(bool html, std::size_t size) {
    std::mt19937 rng(11);
    const char* words[] = {"mail",
                           "checker",
                           "<b>new</b>",
                           "&nbsp;",
                           "message",
                           "Gr\xC3\xBC\xC3\x9F"
                           "e",
                           "<br>",
                           "server",
                           "account",
                           "list."};
    std::string s = html ? "<html><body>\r\n" : "";
    int n = 0;
    while (s.size() < size) {
        const char* w = words[rng() % std::size(words)];
        if (!html && w[0] == '<')
            continue;
        s += w;
        s += (++n % 12 == 0) ? "\r\n" : " ";
    }
    if (html)
        s += "</body></html>\r\n";
    return s;
}

void openWindow(benchmark::State& state, bool html) {
    const std::string folder = std::filesystem::temp_directory_path() / "tarn-bench-window";
    std::filesystem::create_directories(folder);
    Session session(folder, systemClock(), "_bench" + std::to_string(::getpid()));
    MailRecord r;
    r.UID = "m";
    r.Account = 1;
    r.Subject = "Newsletter";
    r.Sender = "news@example.org";
    r.Body = body(html, 1 << 20);
    session.db().AppendMessage(r);
    NoList list;
    MailListActions actions(session, {});
    list.m_actions = &actions;
    for (auto _ : state) {
        auto windows = A_ShowMessageExecute(session, list, {{"m", 1}});
        QCoreApplication::processEvents();
        state.PauseTiming();
        for (TF_MessageWindow* w : windows)
            delete w;
        state.ResumeTiming();
    }
    std::filesystem::remove_all(folder);
}

void BM_OpenHtmlMessage(benchmark::State& state) {
    openWindow(state, true);
}
BENCHMARK(BM_OpenHtmlMessage)->Unit(benchmark::kMillisecond);

void BM_OpenPlainMessage(benchmark::State& state) {
    openWindow(state, false);
}
BENCHMARK(BM_OpenPlainMessage)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
