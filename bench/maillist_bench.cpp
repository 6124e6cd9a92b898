// Mail list window figures: RebuildList of 10,000 and 100,000 records, the memory the shown
// list keeps, a header click that re-sorts 100,000 rows, and the longest gap of the event loop
// while four accounts are checked against a private Dovecot with the list shown.
// Runs offscreen; prints one line per figure.

#include "check/Session.h"
#include "checker/TF_CheckerWindow.h"
#include "core/Clock.h"
#include "integration/fixture/DovecotFixture.h"
#include "maillist/MailListModel.h"
#include "maillist/MailListRules.h"
#include "maillist/TF_EMailList.h"
#include "platform/NamedMutex.h"
#include "platform/PowerOff.h"
#include "store/MailListRows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTimer>
#include <QTreeView>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <malloc.h>
#include <memory>
#include <random>
#include <string>

using namespace tarn;

namespace {

struct NoPowerOff : PowerOff {
    bool powerOff() override { return false; }
};

std::string tempFolder() {
    char tmpl[] = "/tmp/tarn-listbench-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return tmpl;
}

double ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// CPU time of this thread in ms: on a machine shared with other work the wall time says more
// about the neighbours than about the list.
double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::size_t heapInUse() {
    malloc_trim(0);
    const struct mallinfo2 m = mallinfo2();
    // Large blocks are mapped on their own and not part of the arena's count.
    return m.uordblks + m.hblkhd;
}

struct Setup {
    std::string folder = tempFolder();
    Session session{folder, systemClock(), "_listbench" + std::to_string(::getpid())};
    NoPowerOff powerOff;
    std::unique_ptr<TF_CheckerWindow> checker;
    std::unique_ptr<TF_EMailList> list;

    explicit Setup(int accounts) {
        Settings& s = session.settings();
        for (int i = 1; i <= accounts; ++i) {
            AccountSettings a = defaultAccount(i, s.Main.Colors);
            a.Name = "account " + std::to_string(i);
            a.Active = false;
            s.Accounts.push_back(a);
        }
        s.Main.ECount = accounts;
        session.syncWithSettings();
    }
    void open() {
        checker = std::make_unique<TF_CheckerWindow>(session, powerOff);
        checker->E_Setlengths(false);
        list = std::make_unique<TF_EMailList>(session, *checker);
        checker->setMailList(list.get());
        list->resize(900, 600);
    }
    ~Setup() {
        session.waitForWorkers(std::chrono::seconds(10));
        if (checker)
            checker->setMailList(nullptr);
        list.reset();
        checker.reset();
        std::filesystem::remove_all(folder);
    }
};

// Records with subjects and senders of typical lengths; returns their subject and sender bytes.
std::size_t fill(Session& session, int records, int accounts) {
    std::mt19937 rng(42);
    const char* words[] = {"Re:",    "meeting", "invoice", "your",    "order", "has",    "shipped",
                           "weekly", "report",  "Fwd:",    "holiday", "plans", "update", "news"};
    std::size_t bytes = 0;
    NamedLock lock(session.db().mutex());
    for (int i = 0; i < records; ++i) {
        MailRecord r;
        std::string subject;
        const int n = 3 + static_cast<int>(rng() % 6);
        for (int w = 0; w < n; ++w)
            subject += std::string(w ? " " : "") + words[rng() % 14];
        r.Subject = subject;
        r.Sender = "Person " + std::to_string(rng() % 5000) + " <person" +
                   std::to_string(rng() % 5000) + "@example.org>";
        r.UID = "00000" + std::to_string(100000 + i) + "5f3d";
        r.Account = 1 + i % accounts;
        r.Count = i / accounts + 1;
        r.Size = static_cast<long long>(rng() % 200000);
        r.Date = 46000.0 + (rng() % 100000) / 100.0;
        bytes += r.Subject->size() + r.Sender->size();
        session.db().AppendMessage(r);
    }
    return bytes;
}

void rebuildFigures(int records) {
    Setup s(4);
    const std::size_t textBytes = fill(s.session, records, 4);
    {
        // The share of the rebuild that copies the rows out of the table.
        MailListRows rows;
        QElapsedTimer t;
        t.start();
        const double c0 = cpuMs();
        rows.fill(s.session.db(), 0);
        std::printf("rows_fill_%d: wall %.1f ms, cpu %.1f ms\n", records, ms(t), cpuMs() - c0);
    }
    s.open();
    s.list->show();
    QApplication::processEvents();
    const std::size_t before = heapInUse();
    QElapsedTimer t;
    t.start();
    double c0 = cpuMs();
    s.list->RebuildList(0);
    const double rebuild = ms(t);
    const double rebuildCpu = cpuMs() - c0;
    QApplication::processEvents(); // layout and first paint
    const double painted = ms(t);
    const std::size_t after = heapInUse();
    const std::size_t rowsBytes = s.list->model().rows().memoryBytes();
    std::printf("rebuild_%d: wall %.1f ms (with first paint %.1f), cpu %.1f ms\n", records, rebuild,
                painted, rebuildCpu);
    std::printf("list_memory_%d: rows=%zu bytes, heap growth with view=%zu bytes, subject+sender="
                "%zu bytes, ratio rows=%.2f heap=%.2f\n",
                records, rowsBytes, after - before, textBytes,
                static_cast<double>(rowsBytes) / static_cast<double>(textBytes),
                static_cast<double>(after - before) / static_cast<double>(textBytes));
    // A rebuild of the view already shown (after a command).
    t.restart();
    c0 = cpuMs();
    s.list->RebuildList(0);
    std::printf("rebuild_again_%d: wall %.1f ms, cpu %.1f ms\n", records, ms(t), cpuMs() - c0);
    if (records >= 100000) {
        QHeaderView* header = s.list->listView()->header();
        for (int tag :
             {maillist::TagSubject, maillist::TagSubject, maillist::TagDate, maillist::TagSize}) {
            t.restart();
            c0 = cpuMs();
            emit header->sectionClicked(MailListModel::columnOf(tag));
            const double sort = ms(t);
            const double sortCpu = cpuMs() - c0;
            QApplication::processEvents();
            std::printf("column_click_%d to %s: wall %.1f ms (with paint %.1f), cpu %.1f ms\n",
                        records, MailListDB::sortTypeName(s.session.db().sortOrder()), sort, ms(t),
                        sortCpu);
        }
        // The click's two shares: the table's re-sort under the lock, and the rows read back.
        for (SortType type : {SortType::SubjectIndex, SortType::DateIndex, SortType::CountIndex}) {
            c0 = cpuMs();
            {
                NamedLock lock(s.session.db().mutex());
                s.session.db().setSortOrder(type);
            }
            const double sortOnly = cpuMs() - c0;
            MailListRows rows;
            c0 = cpuMs();
            rows.fill(s.session.db(), 0);
            std::printf("resort_%d to %s: table cpu %.1f ms, rows read back cpu %.1f ms\n", records,
                        MailListDB::sortTypeName(type), sortOnly, cpuMs() - c0);
        }
    }
}

void gapDuringChecks() {
    if (!test::DovecotFixture::available()) {
        std::printf("event_loop_gap: skipped, dovecot not available\n");
        return;
    }
    test::DovecotFixture dovecot;
    const int perAccount = 500;
    Setup s(4);
    for (int a = 1; a <= 4; ++a) {
        const std::string user = "user" + std::to_string(a);
        dovecot.addUser(user, "pw");
        for (int i = 0; i < perAccount; ++i)
            dovecot.addMessage(user, "From: Someone " + std::to_string(i) +
                                         " <x@example.org>\nSubject: Message " + std::to_string(i) +
                                         " of " + user + "\n\n" + std::string(2000, 'b') + "\n");
        AccountSettings& acc = s.session.settings().account(a);
        acc.Host =
            std::string(test::DovecotFixture::host()) + ":" + std::to_string(dovecot.pop3Port());
        acc.UserID = user;
        acc.Password = "pw";
        acc.SavePwd = true;
        acc.List = true;
    }
    // The new-mail sounds would measure the media player; they are off.
    s.session.settings().Main.SoundItemIndex = 0;
    s.session.syncWithSettings();
    s.open();

    auto run = [&](bool listShown) {
        s.list->A_PurgeMaillistExecute();
        if (listShown)
            s.list->showList(0);
        else
            s.list->hide();
        QApplication::processEvents();
        QElapsedTimer gapClock, total;
        long long maxGap = 0;
        // The CPU this thread spent between two ticks: a long wall gap with little CPU in it
        // is the machine's other work, not ours.
        double maxGapCpu = 0, maxCpuGap = 0, lastCpu = cpuMs();
        QTimer gapTimer;
        QObject::connect(&gapTimer, &QTimer::timeout, [&] {
            const long long gap = gapClock.restart();
            const double now = cpuMs();
            if (gap > maxGap) {
                maxGap = gap;
                maxGapCpu = now - lastCpu;
            }
            maxCpuGap = std::max(maxCpuGap, now - lastCpu);
            lastCpu = now;
        });
        gapClock.start();
        gapTimer.start(1);
        total.start();
        for (int a = 1; a <= 4; ++a)
            s.checker->scheduler().checkNow(a);
        auto busy = [&] {
            for (int a = 1; a <= 4; ++a)
                if (s.session.runtime()[a].Busy)
                    return true;
            return s.session.runningWorkers() > 0;
        };
        auto shown = [&] {
            NamedLock lock(s.session.db().mutex());
            return s.session.db().CountAllShownMessages();
        };
        while ((busy() || shown() < 4 * perAccount) && total.elapsed() < 120000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        gapTimer.stop();
        std::printf("event_loop_gap_4_accounts_list_%s_ms=%lld (cpu %.1f ms in it; longest cpu "
                    "between two ticks %.1f ms; checks of 4 x %d messages took %lld ms, %d rows "
                    "in the list)\n",
                    listShown ? "shown" : "hidden", maxGap, maxGapCpu, maxCpuGap, perAccount,
                    total.elapsed(), s.list->model().rowCount());
    };
    run(true);
    run(false);
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    rebuildFigures(10000);
    rebuildFigures(100000);
    gapDuringChecks();
    return 0;
}
