#include "check/MailListActions.h"
#include "check/Session.h"
#include "checker/TestApp.h"
#include "core/EMailListSettings.h"
#include "core/IniFile.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "maillist/MessageViewer.h"
#include "maillist/MessageWindowHost.h"
#include "maillist/TF_HeaderWindow.h"
#include "maillist/TF_MessageWindow.h"
#include "mime/ConvertMessageText.h"
#include "platform/NamedMutex.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace tarn {
namespace {

// A mail list reduced to what the windows use: the shown rows of the view in list order, a
// selection, and a record of every refresh and request.
class FakeList : public MessageWindowHost {
public:
    explicit FakeList(Session& s) : session(s) {}

    int ViewAccount() const override { return view; }
    void RebuildList(int account) override {
        view = account;
        calls.push_back("RebuildList " + std::to_string(account));
    }
    void ReportStatus(int account, int kind, const std::string& text) override {
        calls.push_back("ReportStatus " + std::to_string(account) + " " + std::to_string(kind) +
                        " " + text);
    }
    void UpdateFieldCount(int account) override {
        calls.push_back("UpdateFieldCount " + std::to_string(account));
    }
    void UpdateTrayState() override { calls.push_back("UpdateTrayState"); }
    MailListActions& actions() override { return m_actions; }
    std::vector<std::string> rowUids() const override {
        std::vector<std::string> out;
        for (const MessageKey& k : rows())
            out.push_back(k.UID);
        return out;
    }
    void clearSelection() override { selected.clear(); }
    void selectRow(int row) override { selected.insert(row); }
    bool showMessageEnabled() const override { return showEnabled; }
    void A_ShowMessageExecute() override {
        for (TF_MessageWindow* w : tarn::A_ShowMessageExecute(session, *this, selectedKeys()))
            opened.push_back(w);
    }

    std::vector<MessageKey> rows() const {
        std::vector<MessageKey> out;
        session.db().walk(view, [&](const MailRecord& r) {
            if (!r.Ignore.value_or(false))
                out.push_back({*r.UID, *r.Account});
            return true;
        });
        return out;
    }
    std::vector<MessageKey> selectedKeys() const {
        std::vector<MessageKey> out;
        const auto all = rows();
        for (int i : selected)
            out.push_back(all.at(static_cast<std::size_t>(i)));
        return out;
    }

    Session& session;
    MailListActions m_actions{session, [this](int account, int ms) {
                                  calls.push_back("requestCheck " + std::to_string(account) + " " +
                                                  std::to_string(ms));
                              }};
    int view = 0;
    bool showEnabled = true;
    std::set<int> selected;
    std::vector<std::string> calls;
    std::vector<QPointer<TF_MessageWindow>> opened;
};

class MessageWindowTest : public ::testing::Test {
protected:
    MessageWindowTest() : session(dir.path().string(), systemClock(), test::uniqueLockSuffix()) {
        test::app();
        session.settings().Accounts.resize(2);
        session.syncWithSettings();
    }
    ~MessageWindowTest() override {
        for (QWidget* w : QApplication::topLevelWidgets())
            delete w;
    }

    void add(const std::string& uid, int account, std::optional<std::string> body,
             std::string subject = "Subject", bool marked = false) {
        MailRecord r;
        r.Count = ++count; // list order: the order of adding
        r.UID = uid;
        r.Account = account;
        r.Subject = subject;
        r.Sender = "Ann <ann@example.org>";
        r.Header = "From: Ann\r\nSubject: " + subject + "\r\n";
        r.Body = std::move(body);
        r.Delete = marked;
        session.db().AppendMessage(r);
    }
    MailRecord record(const std::string& uid, int account) {
        return *session.db().FindMessage(uid, account);
    }
    static QString text(QWidget* w) {
        return w->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText();
    }
    template <class T> static T* child(QWidget* w, const char* name) {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    static void settle() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    test::TempDir dir;
    Session session;
    FakeList list{session};
    long long count = 0;
};

TEST_F(MessageWindowTest, ShowMessageOpensOneWindowPerRowWithABody) {
    const std::string html = "<html>Hello<br>World</html>";
    // The list shows higher accounts first.
    add("a", 2, html, "First");
    add("b", 2, std::nullopt, "No body");
    add("c", 1, std::string(100, 'x') + " tail", "Third");
    session.settings().EMailList.MailFormWidth = 640;
    session.settings().EMailList.MailFormHeight = 420;

    const auto windows = A_ShowMessageExecute(session, list, list.rows());
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0]->windowTitle(), QStringLiteral("First from Ann <ann@example.org>"));
    EXPECT_EQ(windows[1]->windowTitle(), QStringLiteral("Third from Ann <ann@example.org>"));
    for (TF_MessageWindow* w : windows) {
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->size(), QSize(640, 420));
    }
    const QString expected =
        QString::fromStdString(ConvertMessageText(html, true, true)).replace("\r\n", "\n");
    EXPECT_EQ(text(windows[0]), expected);
    EXPECT_TRUE(text(windows[0]).contains(QStringLiteral("Hello\nWorld")));
    EXPECT_EQ(windows[1]->uid(), "c");
    EXPECT_EQ(windows[1]->account(), 1);

    // Each window goes its own way when closed.
    QPointer<TF_MessageWindow> first = windows[0];
    QPointer<TF_MessageWindow> second = windows[1];
    child<QPushButton>(first, "CloseButton")->click();
    settle();
    EXPECT_TRUE(first.isNull());
    ASSERT_FALSE(second.isNull());
    EXPECT_TRUE(second->isVisible());
    EXPECT_TRUE(list.calls.empty()) << "Close changes nothing else";
}

TEST_F(MessageWindowTest, LayoutFollowsTheRightEdgeAndEveryResizeIsKept) {
    add("a", 1, "body");
    TF_MessageWindow* w = A_ShowMessageExecute(session, list, list.rows()).at(0);
    w->resize(700, 500);
    EXPECT_EQ(session.settings().EMailList.MailFormWidth, 700);
    EXPECT_EQ(session.settings().EMailList.MailFormHeight, 500);
    EXPECT_EQ(child<QWidget>(w, "Panel1")->geometry(), QRect(0, 462, 700, 38));
    EXPECT_EQ(child<QWidget>(w, "Memo1")->geometry(), QRect(0, 0, 700, 462));
    EXPECT_EQ(child<QPushButton>(w, "CloseButton")->geometry(), QRect(700 - 82, 7, 65, 25));
    EXPECT_EQ(child<QPushButton>(w, "HideButton")->geometry(), QRect(700 - 245, 7, 155, 25));
    EXPECT_EQ(child<QPushButton>(w, "DeleteButton")->geometry(), QRect(700 - 410, 7, 155, 25));
    auto* convert = child<QCheckBox>(w, "ConvertHTMLBox");
    auto* wrap = child<QCheckBox>(w, "WrapTextBox");
    EXPECT_EQ(convert->geometry(), QRect(16, 2, 100, 17));
    EXPECT_EQ(wrap->geometry(), QRect(16, 19, 100, 17));
    EXPECT_EQ(convert->text(), QStringLiteral("Convert HTML"));
    EXPECT_EQ(wrap->text(), QStringLiteral("Wrap Text"));
    EXPECT_FALSE(convert->focusPolicy() & Qt::TabFocus);
    EXPECT_FALSE(wrap->focusPolicy() & Qt::TabFocus);

    auto* memo = child<QPlainTextEdit>(w, "Memo1");
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_TRUE(QFontInfo(memo->font()).fixedPitch());
    EXPECT_EQ(memo->font().pointSize(), 10);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    // The next window opens at the size the user left.
    TF_HeaderWindow* h = ShowHeader1Click(session, list.rows()).at(0);
    EXPECT_EQ(h->size(), QSize(700, 500));
    h->resize(300, 200);
    EXPECT_EQ(session.settings().EMailList.MailFormWidth, 300);
    EXPECT_EQ(session.settings().EMailList.MailFormHeight, 200);
}

TEST_F(MessageWindowTest, HeaderWindowShowsTheStoredHeaderUnchanged) {
    add("a", 1, std::nullopt);
    MailRecord r = record("a", 1);
    r.Header =
        "From: J\xF6rg <j@example.org>\r\nSubject: <html> &amp; " + std::string(120, 'y') + "\r\n";
    session.db().UpdateMessage(r);
    add("b", 1, "body");
    const std::vector<MessageKey> rows = {{"a", 1}, {"gone", 1}, {"b", 1}};
    const auto windows = ShowHeader1Click(session, rows);
    ASSERT_EQ(windows.size(), 2u) << "a header window also for a message without its body";
    EXPECT_EQ(windows[0]->windowTitle(), QStringLiteral("Message Headers"));
    EXPECT_EQ(text(windows[0]), QStringLiteral(u"From: J\u00F6rg <j@example.org>\nSubject: "
                                               u"<html> &amp; ") +
                                    QString(120, QLatin1Char('y')) + QStringLiteral("\n"));
    EXPECT_TRUE(child<QPlainTextEdit>(windows[0], "Memo1")->isReadOnly());

    // Escape, pressed in the text, closes the window.
    QPointer<TF_HeaderWindow> first = windows[0];
    first->show();
    QTest::keyClick(child<QPlainTextEdit>(first, "Memo1"), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    EXPECT_FALSE(windows[1]->isHidden());
}

// Ticking a box changes the option for every later window, reopens the message in a new
// window from the list, and closes this one; the option is what the list's section saves.
TEST_F(MessageWindowTest, TickingWrapTextReopensTheMessage) {
    add("x", 2, "other");
    add("a", 1, std::string(70, 'w') + " " + std::string(20, 'z'));
    QPointer<TF_MessageWindow> old = A_ShowMessageExecute(session, list, {{"a", 1}}).at(0);
    EXPECT_EQ(text(old), QString(70, 'w') + QStringLiteral(" \n") + QString(20, 'z'));
    list.selected = {0};
    const QRect place(423, 363, 520, 310);
    old->setGeometry(place);

    child<QCheckBox>(old, "WrapTextBox")->click();
    settle();
    EXPECT_FALSE(session.settings().Main.WrapText);
    EXPECT_TRUE(old.isNull());
    EXPECT_EQ(list.selected, (std::set<int>{1}));
    ASSERT_EQ(list.opened.size(), 1u);
    ASSERT_FALSE(list.opened[0].isNull());
    EXPECT_EQ(text(list.opened[0]), QString(70, 'w') + QStringLiteral(" ") + QString(20, 'z'));
    EXPECT_FALSE(child<QCheckBox>(list.opened[0], "WrapTextBox")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(list.opened[0], "ConvertHTMLBox")->isChecked());
    // The new window stands where the old one stood, at its size.
    EXPECT_EQ(list.opened[0]->geometry(), place);

    const std::string ini = dir.file("tarn.ini");
    saveEMailListSection(ini, session.settings().EMailList, session.settings().Main);
    EXPECT_EQ(IniFile(ini).readString("EMailList", "WrapText", ""), "0");
    EXPECT_EQ(IniFile(ini).readString("EMailList", "ConvertHTML", ""), "1");
}

// At the size a first window gets, 80 columns of the widest letter need no horizontal
// scrolling.
TEST_F(MessageWindowTest, DefaultSizeShowsEightyColumns) {
    session.settings().Main.WrapText = false;
    add("a", 1, std::string(80, 'm') + "\r\n" + std::string(80, 'W'));
    TF_MessageWindow* w = A_ShowMessageExecute(session, list, {{"a", 1}}).at(0);
    w->show();
    settle();
    auto* memo = child<QPlainTextEdit>(w, "Memo1");
    EXPECT_EQ(memo->horizontalScrollBar()->maximum(), 0)
        << "window " << w->width() << " viewport " << memo->viewport()->width();
    w->close();
}

TEST_F(MessageWindowTest, TickingWithTheMessageGoneOrShowMessageDisabled) {
    add("a", 1, "<html>x</html>");
    QPointer<TF_MessageWindow> w = A_ShowMessageExecute(session, list, list.rows()).at(0);
    const QString before = text(w);
    ASSERT_TRUE(session.db().RemoveMessage("a", 1));
    child<QCheckBox>(w, "ConvertHTMLBox")->click();
    settle();
    EXPECT_FALSE(session.settings().Main.ConvertHTML);
    ASSERT_FALSE(w.isNull()) << "the window stays when the message has left the list";
    EXPECT_EQ(text(w), before);
    EXPECT_TRUE(list.opened.empty());

    add("a", 1, "<html>x</html>");
    list.showEnabled = false;
    child<QCheckBox>(w, "ConvertHTMLBox")->click();
    settle();
    EXPECT_TRUE(session.settings().Main.ConvertHTML);
    EXPECT_TRUE(w.isNull()) << "found in the list: closed even when nothing reopens it";
    EXPECT_TRUE(list.opened.empty());
    EXPECT_EQ(list.selected, (std::set<int>{0}));
}

TEST_F(MessageWindowTest, DeleteMessageAndClose) {
    struct Case {
        const char* name;
        bool present;
        bool markedBefore;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases = {
        {"unmarked",
         true,
         false,
         {"requestCheck 2 10000", "ReportStatus 0 1 Deleting mails on next connection",
          "RebuildList 0"}},
        {"already marked stays marked",
         true,
         true,
         {"requestCheck 2 10000", "ReportStatus 0 1 Deleting mails on next connection",
          "RebuildList 0"}},
        {"gone meanwhile",
         false,
         false,
         {"ReportStatus 0 1 Deleting mails on next connection", "RebuildList 0"}},
    };
    for (const Case& c : cases) {
        add("m", 2, "body", "Subject", c.markedBefore);
        session.runtimeOf(2)->LastMailboxTotal = 7;
        list.calls.clear();
        QPointer<TF_MessageWindow> w = A_ShowMessageExecute(session, list, list.rows()).at(0);
        if (!c.present)
            session.db().RemoveMessage("m", 2);
        child<QPushButton>(w, "DeleteButton")->click();
        settle();
        EXPECT_TRUE(w.isNull()) << c.name;
        EXPECT_EQ(list.calls, c.calls) << c.name;
        if (c.present) {
            EXPECT_TRUE(record("m", 2).Delete.value_or(false)) << c.name;
            EXPECT_EQ(session.runtimeOf(2)->LastMailboxTotal.load(), c.markedBefore ? 7 : -2)
                << c.name;
        } else {
            EXPECT_EQ(session.db().size(), 0u) << c.name;
            EXPECT_EQ(session.runtimeOf(2)->LastMailboxTotal.load(), 7) << c.name;
        }
        session.db().RemoveMessage("m", 2);
    }
}

TEST_F(MessageWindowTest, HideMessageAndClose) {
    list.view = 1;
    for (bool present : {true, false}) {
        add("h", 1, "body");
        list.calls.clear();
        QPointer<TF_MessageWindow> w = A_ShowMessageExecute(session, list, list.rows()).at(0);
        if (!present)
            session.db().RemoveMessage("h", 1);
        child<QPushButton>(w, "HideButton")->click();
        settle();
        EXPECT_TRUE(w.isNull());
        if (present) {
            EXPECT_TRUE(record("h", 1).Ignore.value_or(false));
            EXPECT_EQ(list.calls, (std::vector<std::string>{"UpdateFieldCount 1", "RebuildList 1",
                                                            "UpdateTrayState"}));
        } else {
            EXPECT_EQ(list.calls, (std::vector<std::string>{"RebuildList 1", "UpdateTrayState"}));
        }
        session.db().RemoveMessage("h", 1);
    }
}

} // namespace
} // namespace tarn
