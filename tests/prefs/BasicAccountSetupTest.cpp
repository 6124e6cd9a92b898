#include "PrefsFixture.h"

#include "core/PrefsLevel.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QRadioButton>
#include <QTest>

#include <functional>

namespace tarn {
namespace {

// The account page as a screen reader meets it: controls found by role and name only.
class BasicAccountSetupTest : public test::PrefsFixture {
protected:
    static QAccessibleInterface* find(QAccessibleInterface* root,
                                      const std::function<bool(QAccessibleInterface*)>& match) {
        if (!root || root->state().invisible)
            return nullptr;
        if (match(root))
            return root;
        for (int i = 0; i < root->childCount(); ++i)
            if (QAccessibleInterface* found = find(root->child(i), match))
                return found;
        return nullptr;
    }
    QAccessibleInterface* named(QAccessible::Role role, const QString& name) const {
        return find(QAccessible::queryAccessibleInterface(prefs.get()),
                    [&](QAccessibleInterface* i) {
                        if (i->role() != role)
                            return false;
                        if (i->text(QAccessible::Name) == name)
                            return true;
                        // A combo box on Linux is named by its text and labelled by relation.
                        for (const auto& [label, relation] : i->relations(QAccessible::Label))
                            if (label->text(QAccessible::Name) == name)
                                return true;
                        return false;
                    });
    }
    // A visible text whose name starts so.
    QString staticText(const QString& start) const {
        QAccessibleInterface* i =
            find(QAccessible::queryAccessibleInterface(prefs.get()), [&](QAccessibleInterface* x) {
                return x->role() == QAccessible::StaticText &&
                       x->text(QAccessible::Name).startsWith(start);
            });
        return i ? i->text(QAccessible::Name) : QString();
    }
    void press(QAccessible::Role role, const QString& name) const {
        QAccessibleInterface* i = named(role, name);
        ASSERT_TRUE(i) << name.toStdString();
        ASSERT_TRUE(i->actionInterface());
        i->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        // The press is an animated click: it lands after a short while.
        QTest::qWait(250);
    }
    void type(const QString& label, const QString& text) const {
        QAccessibleInterface* i = named(QAccessible::EditableText, label);
        ASSERT_TRUE(i) << label.toStdString();
        qobject_cast<QLineEdit*>(i->object())->setText(text);
    }
    void chooseSecurity(const QString& choice) const {
        QAccessibleInterface* i = named(QAccessible::ComboBox, "Security:");
        ASSERT_TRUE(i);
        auto* box = qobject_cast<QComboBox*>(i->object());
        ASSERT_TRUE(box);
        box->setCurrentIndex(box->findText(choice));
    }
    static constexpr const char* kWarning = "Without security your password travels readable";
};

TEST_F(BasicAccountSetupTest, TypeAndSecurityAreOfferedAndUsedAtTheBasicLevel) {
    make(1);
    prefs->openPreferences();
    prefs->setLevel(PrefsLevel::Basic);
    w<QPushButton>("NewButton1")->click();
    ASSERT_EQ(prefs->currentAccountIndex(), 1);

    // A new account starts encrypted; nothing is marked experimental.
    EXPECT_TRUE(named(QAccessible::RadioButton, "POP3"));
    EXPECT_TRUE(named(QAccessible::RadioButton, "IMAP4"));
    EXPECT_EQ(staticText("**"), "");
    QAccessibleInterface* security = named(QAccessible::ComboBox, "Security:");
    ASSERT_TRUE(security);
    EXPECT_EQ(security->text(QAccessible::Value), "SSL/TLS");
    EXPECT_EQ(staticText(kWarning), "");

    struct Case {
        const char* server;
        const char* type;
        const char* security;
        const char* port;
        bool warned;
    };
    const Case cases[] = {
        {"mail.example.org", "IMAP4", "SSL/TLS", "Port 993", false},
        {"mail.example.org", "IMAP4", "STARTTLS", "Port 143", false},
        {"mail.example.org", "POP3", "SSL/TLS", "Port 995", false},
        {"mail.example.org", "POP3", "STARTTLS", "Port 110", false},
        {"mail.example.org", "POP3", "None", "Port 110", true},
        {"mail.example.org:2995", "POP3", "SSL/TLS", "Port 2995", false},
        {"mail.example.org:x", "POP3", "SSL/TLS", "Port: not a number", false},
        {"mail.example.org", "IMAP4", "None", "Port 143", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.server) + " " + c.type + " " + c.security);
        type("Mail Server*:", c.server);
        press(QAccessible::RadioButton, c.type);
        chooseSecurity(c.security);
        EXPECT_EQ(staticText("Port"), c.port);
        EXPECT_EQ(!staticText(kWarning).isEmpty(), c.warned);
    }

    // What was chosen at Basic is what OK stores.
    type("Mail Server*:", "imap.example.org");
    type("User ID*:", "ann");
    press(QAccessible::RadioButton, "IMAP4");
    chooseSecurity("STARTTLS");
    press(QAccessible::Button, "OK");
    ASSERT_FALSE(prefs->isVisible()) << prefs->lastDiscardedError();
    const AccountSettings& acc = session.settings().account(2);
    EXPECT_EQ(acc.Host, "imap.example.org");
    EXPECT_EQ(acc.MailServerType, 1);
    EXPECT_EQ(acc.Security, static_cast<int>(ConnectionSecurity::StartTls));
}

} // namespace
} // namespace tarn
