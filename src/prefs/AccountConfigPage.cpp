#include "prefs/AccountConfigPage.h"

#include "check/ConnectionTest.h"
#include "check/DeleteAccount.h"
#include "check/OAuthSignIn.h"
#include "check/Session.h"
#include "check/TIdCheckThread.h"
#include "checker/CheckerField.h"
#include "checker/CrossThreadQueue.h"
#include "checker/TF_CheckerWindow.h"
#include "checker/UiText.h"
#include "core/CheckFrequency.h"
#include "core/Credentials.h"
#include "core/NumberRanges.h"
#include "core/OAuthProviders.h"
#include "core/SecretStore.h"
#include "core/Settings.h"
#include "core/TarnError.h"
#include "mailproto/ServerEndpoint.h"
#include "mailproto/SettingsSearch.h"
#include "platform/BrowserLauncher.h"
#include "prefs/BackgroundTask.h"
#include "prefs/MailboxLister.h"
#include "prefs/TF_Prefs.h"
#include "store/MailStoreFiles.h"

#include "ui_AccountConfigPage.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QProxyStyle>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <filesystem>

namespace tarn {

namespace {

QString qs(const std::string& s) {
    return uiText(s);
}

class NarrowScrollBarStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_ScrollBarExtent)
            return 10;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

} // namespace

AccountConfigPage::AccountConfigPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::AccountConfigPage>()) {
    m_ui->setupUi(this);
    // The rows go into a scroll area under the group's title: at the higher levels the
    // sign-in group runs past the dialog's fixed height.
    {
        QGroupBox* box = m_ui->AccountConfigPageBox;
        const auto rows = box->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        // Under the title, or as high as the first row starts.
        int top = 16;
        for (QWidget* row : rows)
            top = std::min(top, row->y() - 1);
        auto* scroll = new QScrollArea(box);
        scroll->setObjectName(QStringLiteral("AccountConfigScroll"));
        scroll->setProperty("level", 0);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setGeometry(0, top, box->width(), box->height() - top - 1);
        // A narrow bar leaves the right-hand rows their room.
        auto* barStyle = new NarrowScrollBarStyle;
        barStyle->setParent(scroll);
        scroll->verticalScrollBar()->setStyle(barStyle);
        m_content = new QWidget;
        m_content->setObjectName(QStringLiteral("AccountConfigContent"));
        m_content->setProperty("level", 0);
        for (QWidget* row : rows) {
            const bool hidden = row->isHidden();
            row->setParent(m_content);
            row->move(row->x(), row->y() - top);
            row->setVisible(!hidden);
        }
        scroll->setWidget(m_content);
        scroll->viewport()->setAutoFillBackground(false);
        m_content->setAutoFillBackground(false);
    }
    m_lister = new MailboxLister(this);
    m_lister->setObjectName(QStringLiteral("MailboxLister"));
    m_lister->setPort(prefs.options().imapPort);
    m_lister->setThreadRegistry(session().sharedThreads());

    auto command = [this](void (AccountConfigPage::*handler)()) {
        return
            [this, handler] { this->prefs().runCommand([this, handler] { (this->*handler)(); }); };
    };
    connect(m_ui->rgServerTypeIMAP4, &QRadioButton::toggled, this,
            command(&AccountConfigPage::rgServerTypeClick));
    connect(m_ui->CheckBox14, &QCheckBox::toggled, this,
            command(&AccountConfigPage::CheckBox14Click));
    connect(m_ui->cbMailBox, &DropDownComboBox::popupAboutToShow, this,
            command(&AccountConfigPage::cbMailBoxEnter));
    connect(m_ui->MailClientComboBox1, &QComboBox::activated, this,
            command(&AccountConfigPage::MailClientComboBox1Change));
    connect(m_ui->CAccActive, &QPushButton::clicked, this,
            command(&AccountConfigPage::CAccActiveClick));
    connect(m_ui->CAccIdle, &QPushButton::clicked, this,
            command(&AccountConfigPage::CAccIdleClick));
    connect(m_ui->ResetAccColors, &QPushButton::clicked, this,
            command(&AccountConfigPage::ResetAccColorsClick));
    connect(m_ui->Deletebutton, &QPushButton::clicked, this,
            command(&AccountConfigPage::DeletebuttonClick));
    m_ui->Edit29->installEventFilter(this);
    addNumberField(m_ui->Edit29, kCheckFrequencyRange);

    // A search for an address no longer typed is of no use.
    connect(m_ui->EmailAddress, &QLineEdit::textEdited, this, [this] { stopFinding(); });
    // The sign-in found goes with the server found: one typed over it brings back the
    // account's own.
    connect(m_ui->Edit26, &QLineEdit::textEdited, this, [this] { restoreSignInBeforeSearch(); });
    // An answer for other server data than the fields now hold is of no use.
    for (QLineEdit* e : {m_ui->Edit26, m_ui->Edit27, m_ui->Edit30, m_ui->EditTLSFingerprint})
        connect(e, &QLineEdit::textEdited, this, [this] {
            stopListing();
            stopTest();
        });
    connect(m_ui->cbSecurity, &QComboBox::activated, this, [this] {
        stopListing();
        stopTest();
    });
    connect(m_ui->rgServerTypeIMAP4, &QRadioButton::clicked, this, [this] { stopTest(); });
    connect(m_ui->rgServerTypePOP3, &QRadioButton::clicked, this, [this] { stopTest(); });
    connect(m_lister, &MailboxLister::listed, this, [this](const QStringList& names) {
        const QString text = m_ui->cbMailBox->currentText();
        m_ui->cbMailBox->addItems(names);
        m_ui->cbMailBox->setEditText(text);
        m_ui->cbMailBox->refreshPopup();
    });

    m_tester = new BackgroundTask(ThreadRegistry::Kind::AccountSetup, this);
    m_tester->setThreadRegistry(session().sharedThreads());
    connect(m_ui->TestConnectionButton, &QPushButton::clicked, this,
            command(&AccountConfigPage::TestConnectionClick));
    connect(m_tester, &BackgroundTask::finished, this,
            [this] { m_ui->TestConnectionButton->setEnabled(true); });

    m_ui->OAuthProvider->addItem(QStringLiteral("Microsoft"), QStringLiteral("microsoft"));
    m_ui->OAuthProvider->addItem(QStringLiteral("Google"), QStringLiteral("google"));
    m_ui->OAuthProvider->addItem(QStringLiteral("Custom"), QStringLiteral("custom"));
    connect(m_ui->AuthMethod, &QComboBox::currentIndexChanged, this, [this] { showAuthMethod(); });
    connect(m_ui->OAuthProvider, &QComboBox::activated, this,
            command(&AccountConfigPage::OAuthProviderActivated));
    connect(m_ui->OAuthProvider, &QComboBox::currentIndexChanged, this,
            [this] { showProviderDefaults(); });
    m_signIn = new BackgroundTask(ThreadRegistry::Kind::AccountSetup, this);
    m_signIn->setThreadRegistry(session().sharedThreads());
    m_signInQueue = new CrossThreadQueue(this);
    connect(m_ui->SignInButton, &QPushButton::clicked, this,
            command(&AccountConfigPage::SignInClick));
    connect(m_signIn, &BackgroundTask::finished, this, [this] {
        m_ui->SignInButton->setText(QStringLiteral("Sign in..."));
        showAuthMethod();
    });
    // The sign-in's fields name the client it signs in with: an answer for others is dropped.
    for (QLineEdit* e : {m_ui->OAuthClientID, m_ui->OAuthClientSecret, m_ui->OAuthAuthorizeURL,
                         m_ui->OAuthTokenURL, m_ui->OAuthScope})
        connect(e, &QLineEdit::textEdited, this, [this] { stopSignIn(); });
    connect(m_ui->OAuthProvider, &QComboBox::activated, this, [this] { stopSignIn(); });
    m_finder = new BackgroundTask(ThreadRegistry::Kind::AccountSetup, this);
    m_finder->setThreadRegistry(session().sharedThreads());
    connect(m_ui->FindSettingsButton, &QPushButton::clicked, this,
            command(&AccountConfigPage::FindSettingsClick));
    connect(m_ui->EmailAddress, &QLineEdit::returnPressed, this,
            command(&AccountConfigPage::FindSettingsClick));
    connect(m_finder, &BackgroundTask::finished, this,
            [this] { m_ui->FindSettingsButton->setText(QStringLiteral("Find Settings")); });

    // The port and the warning follow whatever decides them.
    connect(m_ui->Edit26, &QLineEdit::textChanged, this, [this] { showConnectionChoice(); });
    connect(m_ui->cbSecurity, &QComboBox::currentIndexChanged, this,
            [this] { showConnectionChoice(); });
    connect(m_ui->rgServerTypeIMAP4, &QRadioButton::toggled, this,
            [this] { showConnectionChoice(); });

    rgServerTypeClick();
    CheckBox14Click();
    showConnectionChoice();
    showAuthMethod();
    layoutSignIn();
}

AccountConfigPage::~AccountConfigPage() = default;

void AccountConfigPage::setBrowserLauncher(std::shared_ptr<BrowserLauncher> browser) {
    m_browser = std::move(browser);
}

void AccountConfigPage::levelApplied() {
    layoutSignIn();
}

void AccountConfigPage::layoutSignIn() {
    QGroupBox* group = m_ui->SignInBox;
    QWidget* notices[] = {m_ui->AccountConfigAdvancedNotice, m_ui->AccountConfigExpertNotice};
    const auto rows = m_content->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    // Each row starts from the form's geometry: the fitting below is undone when the page no
    // longer scrolls.
    for (QWidget* row : rows) {
        const QVariant design = row->property("designGeometry");
        if (!design.isValid())
            row->setProperty("designGeometry", row->geometry());
        else
            row->setGeometry(design.toRect());
        for (QWidget* inner : row->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (const QVariant d = inner->property("designGeometry"); d.isValid())
                inner->setGeometry(d.toRect());
    }
    const auto bottomOf = [](QWidget* parent, std::initializer_list<QWidget*> skip) {
        int bottom = 0;
        for (QWidget* w : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (!w->isHidden() && std::find(skip.begin(), skip.end(), w) == skip.end())
                bottom = std::max(bottom, w->geometry().bottom() + 1);
        return bottom;
    };
    const int rowsEnd = bottomOf(m_content, {group, m_ui->AccountConfigAdvancedNotice,
                                             m_ui->AccountConfigExpertNotice, m_ui->PushBox});
    // The push box stands empty at Basic: the group takes its place then.
    const int pushEnd = m_ui->PushCheckBox->isHidden() || m_ui->PushBox->isHidden()
                            ? 0
                            : m_ui->PushBox->geometry().bottom() + 1;
    const int groupTop = std::max(rowsEnd, pushEnd) + 4;
    group->setGeometry(group->x(), groupTop, group->width(), bottomOf(group, {}) + 6);
    int end = group->geometry().bottom() + 1;
    for (QWidget* notice : notices) {
        notice->move(notice->x(), end + 2);
        if (!notice->isHidden())
            end = std::max(end, notice->geometry().bottom() + 1);
    }
    auto* scroll = qobject_cast<QScrollArea*>(m_content->parentWidget()->parentWidget());
    const int height = end + 4;
    const bool scrolls = scroll && height > scroll->height();
    const int width = (scroll ? scroll->width() : m_content->width()) -
                      (scrolls ? scroll->verticalScrollBar()->sizeHint().width() : 0);
    m_content->resize(width, height);
    if (!scrolls)
        return;
    // The scroll bar takes the right margin and a little more: a row that reaches under it
    // moves left into the space beside it, and what is still too wide narrows.
    const int limit = width - 1;
    int margin = width; // the rows' left margin stays
    for (QWidget* row : rows)
        if (!row->isHidden())
            margin = std::min(margin, row->x());
    for (QWidget* row : rows) {
        QRect r = row->geometry();
        const int over = r.right() - limit;
        if (row->isHidden() || over <= 0)
            continue;
        int free = r.left() - margin;
        for (QWidget* other : rows) {
            const QRect o = other->geometry();
            if (other != row && !other->isHidden() && o.right() < r.left() &&
                o.top() <= r.bottom() && o.bottom() >= r.top())
                free = std::min(free, r.left() - o.right() - 3);
        }
        const int shift = std::clamp(free, 0, over);
        r.translate(-shift, 0);
        r.setRight(std::min(r.right(), limit));
        row->setGeometry(r);
        // A container's own rows narrow with it.
        for (QWidget* inner : row->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (inner->geometry().right() >= r.width()) {
                if (!inner->property("designGeometry").isValid())
                    inner->setProperty("designGeometry", inner->geometry());
                inner->resize(r.width() - inner->x(), inner->height());
            }
    }
}

void AccountConfigPage::showConnectionChoice() {
    const int security = securityShown();
    const int type = m_ui->rgServerTypeIMAP4->isChecked() ? 1 : 0;
    const std::optional<int> port =
        checkPort(type, security, splitHostSetting(uiLineBytes(m_ui->Edit26->text())),
                  prefs().options().imapPort);
    m_ui->ServerPort->setText(port ? QStringLiteral("Port %1").arg(*port)
                                   : QStringLiteral("Port: not a number"));
    m_ui->SecurityWarning->setVisible(security == static_cast<int>(ConnectionSecurity::None));
}

bool AccountConfigPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->Edit29 && event->type() == QEvent::FocusOut)
        prefs().runCommand([this] { Edit29Exit(); });
    return PrefsPage::eventFilter(watched, event);
}

int AccountConfigPage::selectorAccount() const {
    const int a = m_ui->ComboBox6->currentIndex() + 1;
    return a >= 1 && a <= m_ui->ComboBox6->count() ? a : 0;
}

void AccountConfigPage::focusName() {
    m_ui->LabeledEdit1->setFocus(Qt::OtherFocusReason);
}

void AccountConfigPage::showFrequency(int timerMs) {
    // Whole minutes within the field's range; a stored value outside it is shown corrected
    // (the dialog tells the user once) and stored so by the next store.
    m_ui->Edit29->setText(QString::number(frequencyMinutesShown(timerMs)));
    m_ui->ComboBox7->setCurrentIndex(static_cast<int>(FrequencyUnit::Minutes));
}

std::optional<RangeProblem> AccountConfigPage::rangeProblem() {
    const int a = prefs().currentAccountIndex() + 1;
    if (a < 1 || a > settings().accountCount())
        return std::nullopt;
    return PrefsPage::rangeProblem();
}

void AccountConfigPage::setSwatch(bool active, std::uint32_t color) {
    (active ? m_activeColor : m_idleColor) = color;
    QPushButton* swatch = active ? m_ui->CAccActive : m_ui->CAccIdle;
    swatch->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid gray;")
                              .arg(CheckerField::toQColor(color).name()));
}

void AccountConfigPage::ComboBox6_update_sheet() {
    const int index = m_ui->ComboBox6->currentIndex();
    const int a = index + 1;
    if (index < 0 || a > settings().accountCount())
        return;
    stopListing();
    stopTest();
    stopFinding();
    m_ui->SetupStatus->clear();
    m_ui->SetupStatus->setToolTip(QString());
    m_ui->EmailAddress->clear();
    m_signInBeforeSearch.reset();
    const AccountSettings& acc = settings().account(a);
    m_ui->LabeledEdit1->setText(qs(acc.Name));
    m_ui->Edit26->setText(qs(acc.Host));
    m_ui->Edit27->setText(qs(acc.UserID));
    m_ui->Edit30->setText(qs(acc.Password));
    m_ui->cbMailBox->clear();
    m_ui->cbMailBox->setEditText(qs(acc.IMAPMailBoxName));
    // A value the page does not offer shows blank and stays as it is (securityShown).
    const bool offered = acc.Security >= 0 && acc.Security < m_ui->cbSecurity->count();
    m_ui->cbSecurity->setCurrentIndex(offered ? acc.Security : -1);
    m_ui->EditTLSFingerprint->setText(qs(acc.TLSFingerprint));
    (acc.isImap4() ? m_ui->rgServerTypeIMAP4 : m_ui->rgServerTypePOP3)->setChecked(true);
    rgServerTypeClick();
    showFrequency(acc.Timer);
    m_ui->CheckBox14->setChecked(acc.Active);
    m_ui->CheckBox15->setChecked(acc.Show);
    m_ui->CheckBox1->setChecked(acc.List);
    m_ui->CheckBox5->setChecked(acc.RetrieveAllBodies);
    m_ui->CheckBox3->setChecked(acc.Sound);
    m_ui->SavePwdCheckBox->setChecked(acc.SavePwd);
    showPasswordPlace(acc);
    m_ui->PushCheckBox->setChecked(acc.Push);
    CheckBox14Click();
    setSwatch(true, acc.ActiveColor);
    setSwatch(false, acc.IdleColor);
    m_ui->MailClientComboBox1->setCurrentIndex(acc.DefaultMailClient == 1 ? 1 : 0);
    stopSignIn();
    // A value the page does not offer reads as automatic, as a check reads it.
    m_ui->AuthMethod->setCurrentIndex(acc.AuthMethod >= 0 && acc.AuthMethod <= 2 ? acc.AuthMethod
                                                                                 : 0);
    // No provider stays blank (and stored as it was) until the user picks one.
    const OAuthPreset* preset = oauthPreset(acc.OAuthProvider);
    m_ui->OAuthProvider->setCurrentIndex(
        preset                      ? m_ui->OAuthProvider->findData(QString::fromLatin1(preset->id))
        : acc.OAuthProvider.empty() ? -1
                                    : m_ui->OAuthProvider->findData(QStringLiteral("custom")));
    m_ui->OAuthClientID->setText(qs(acc.OAuthClientID));
    m_ui->OAuthClientSecret->setText(qs(acc.OAuthClientSecret));
    m_ui->OAuthAuthorizeURL->setText(qs(acc.OAuthAuthorizeURL));
    m_ui->OAuthTokenURL->setText(qs(acc.OAuthTokenURL));
    m_ui->OAuthScope->setText(qs(acc.OAuthScope));
    m_ui->PasswordCommand->setText(qs(acc.PasswordCommand));
    showAuthMethod();
    showSignInState(acc);
    prefs().setCurrentAccountIndex(index);
}

void AccountConfigPage::showAuthMethod() {
    const int method = m_ui->AuthMethod->currentIndex();
    const bool oauth = method == static_cast<int>(AuthMethod::OAuth2);
    // With OAuth 2.0 no password goes to the server; the field keeps what it holds.
    m_ui->Edit30->setEnabled(!oauth);
    m_ui->Edit30->setToolTip(oauth ? QStringLiteral("Not used: the account signs in with "
                                                    "OAuth 2.0 (see Sign-in below)")
                                   : QStringLiteral("Password on your email server"));
    if (oauth)
        m_ui->Edit30->setPlaceholderText(QStringLiteral("(not used with OAuth 2.0)"));
    else {
        const int a = prefs().currentAccountIndex() + 1;
        const bool inKeyring = a >= 1 && a <= settings().accountCount() &&
                               settings().account(a).passwordInKeyring() &&
                               settings().account(a).Password.empty();
        m_ui->Edit30->setPlaceholderText(inKeyring ? QStringLiteral("(in the keyring)")
                                                   : QString());
    }
    const bool signIn = method != static_cast<int>(AuthMethod::Password);
    m_ui->SignInButton->setEnabled(signIn || m_signIn->pending());
}

void AccountConfigPage::showProviderDefaults() {
    // Empty endpoint fields take the provider's own: the page shows which.
    const QVariant id = m_ui->OAuthProvider->currentData();
    const OAuthPreset* preset = id.isValid() ? oauthPreset(id.toString().toStdString()) : nullptr;
    m_ui->OAuthAuthorizeURL->setPlaceholderText(preset ? QString::fromLatin1(preset->authorizeUrl)
                                                       : QString());
    m_ui->OAuthTokenURL->setPlaceholderText(preset ? QString::fromLatin1(preset->tokenUrl)
                                                   : QString());
    m_ui->OAuthScope->setPlaceholderText(preset ? QString::fromLatin1(preset->scope) : QString());
    const bool builtIn = preset && *preset->builtInClientId != '\0';
    m_ui->OAuthClientID->setPlaceholderText(builtIn ? QStringLiteral("(built into this program)")
                                                    : QString());
}

void AccountConfigPage::OAuthProviderActivated() {
    const QVariant id = m_ui->OAuthProvider->currentData();
    const OAuthPreset* preset = id.isValid() ? oauthPreset(id.toString().toStdString()) : nullptr;
    if (!preset)
        return;
    // The provider's mail server for the type shown, over SSL/TLS; its port only where the
    // type and security would not choose it anyway.
    const bool imap = m_ui->rgServerTypeIMAP4->isChecked();
    const std::string host = imap ? preset->imapHost : preset->pop3Host;
    const int port = imap ? preset->imapPort : preset->pop3Port;
    const int security = static_cast<int>(ConnectionSecurity::Tls);
    const std::optional<int> chosen =
        checkPort(imap ? 1 : 0, security, splitHostSetting(host), prefs().options().imapPort);
    m_ui->cbSecurity->setCurrentIndex(security);
    m_ui->Edit26->setText(qs(chosen == port ? host : host + ":" + std::to_string(port)));
    stopListing();
    stopTest();
}

void AccountConfigPage::showSignInState(const AccountSettings& acc) {
    QString state;
    const SettingsStore::OAuthTokenState tokens =
        acc.SecretId.empty() ? SettingsStore::OAuthTokenState{}
                             : session().settingsStore().oauthTokens(acc.SecretId);
    if (!acc.SecretId.empty() && m_pendingSignIns.count(acc.SecretId))
        state = QStringLiteral("Signed in; kept when you press OK");
    else if (!tokens.refused.empty())
        state = QStringLiteral("Sign in again: ") + qs(tokens.refused);
    else if (acc.hasOAuthSignIn() || !tokens.refreshToken.empty())
        state = QStringLiteral("Signed in");
    else
        state = QStringLiteral("Not signed in");
    m_ui->SignInStatus->setText(state);
    m_ui->SignInStatus->setToolTip(state);
}

void AccountConfigPage::stopSignIn() {
    if (!m_signIn->pending())
        return;
    m_signIn->cancel();
    m_ui->SignInButton->setText(QStringLiteral("Sign in..."));
    m_ui->SignInStatus->setText(QStringLiteral("Sign-in cancelled"));
    showAuthMethod();
}

void AccountConfigPage::SignInClick() {
    if (m_signIn->pending()) {
        stopSignIn();
        return;
    }
    const int a = prefs().currentAccountIndex() + 1;
    if (a < 1 || a > settings().accountCount())
        return;
    // The sign-in is held under the account's keyring id, which follows it when accounts
    // before it are deleted; the settings file learns the id with the account's next save.
    AccountSettings& held = settings().account(a);
    if (held.SecretId.empty())
        held.SecretId = newSecretId();
    const AccountSettings acc = accountAsTyped();
    const std::string secretId = acc.SecretId;
    if (!m_browser)
        m_browser = std::make_shared<BrowserLauncher>();
    const CrossThreadQueue::Link main = m_signInQueue->link();
    // Opened from the main thread, as every other browser of the program; a browser that
    // does not start leaves the address with the user, and the wait goes on.
    auto open = [this, main](const std::string& url) {
        main.post([this, url] {
            if (!m_signIn->pending())
                return;
            m_browser->LaunchHomePage(url, [this](const std::string& message) {
                std::string text = message;
                for (char& c : text)
                    if (c == '\r')
                        c = ' ';
                prefs().dialogs().error(qs(text));
            });
        });
    };
    m_ui->SignInStatus->setText(QStringLiteral("Waiting for the sign-in in your browser..."));
    m_ui->SignInStatus->setToolTip(QString());
    m_ui->SignInButton->setText(QStringLiteral("Cancel sign-in"));
    const bool started =
        m_signIn->start([this, acc, open, secretId](const std::atomic<bool>& cancelled) {
            SignInOptions options;
            options.cancel = &cancelled;
            const SignInOutcome out = runOAuthSignIn(acc, open, options);
            PendingSignIn kept;
            if (out.ok)
                kept = {out.tokens.refreshToken, out.tokens.accessToken,
                        std::chrono::system_clock::now() + out.tokens.expiresIn};
            const QString error = qs(out.error);
            return [this, ok = out.ok, kept, error, secretId] {
                if (!ok) {
                    m_ui->SignInStatus->setText(QStringLiteral("Not signed in: ") + error);
                    m_ui->SignInStatus->setToolTip(m_ui->SignInStatus->text());
                    return;
                }
                m_pendingSignIns[secretId] = kept;
                const int now = prefs().currentAccountIndex() + 1;
                if (now >= 1 && now <= settings().accountCount())
                    showSignInState(settings().account(now));
            };
        });
    if (!started) {
        m_ui->SignInButton->setText(QStringLiteral("Sign in..."));
        m_ui->SignInStatus->setText(QStringLiteral("No thread could be started for the sign-in."));
    }
    showAuthMethod();
}

void AccountConfigPage::keepSignIns() {
    SettingsStore& store = session().settingsStore();
    for (AccountSettings& acc : settings().Accounts) {
        const auto it =
            acc.SecretId.empty() ? m_pendingSignIns.end() : m_pendingSignIns.find(acc.SecretId);
        if (it == m_pendingSignIns.end())
            continue;
        // The save that follows puts it where the account's secrets go (keyring or file).
        acc.OAuthRefreshToken = it->second.refreshToken;
        acc.OAuthTokenStore.clear();
        store.adoptSignIn(acc.SecretId, it->second.refreshToken, it->second.accessToken,
                          it->second.expires);
    }
    // Those of deleted accounts go with them.
    m_pendingSignIns.clear();
}

void AccountConfigPage::dropSignIns() {
    stopSignIn();
    m_pendingSignIns.clear();
}

void AccountConfigPage::showPasswordPlace(const AccountSettings& acc) {
    const QString place = qs(session().settingsStore().passwordPlace(acc));
    m_ui->PasswordPlace->setText(place);
    m_ui->PasswordPlace->setToolTip(place);
    // The keyring's first answer comes from its own thread; until then the line looks again
    // while the page is shown, so that it does not keep saying it waits.
    if (place.endsWith(QStringLiteral("until the keyring answers")))
        QTimer::singleShot(500, this, [this] {
            const int a = prefs().currentAccountIndex() + 1;
            if (isVisible() && a >= 1 && a <= settings().accountCount())
                showPasswordPlace(settings().account(a));
        });
    // A password only the keyring holds is not read just to fill the field; an empty field
    // keeps it, a typed one replaces it.
    m_ui->Edit30->setPlaceholderText(acc.passwordInKeyring() && acc.Password.empty()
                                         ? QStringLiteral("(in the keyring)")
                                         : QString());
    if (m_ui->AuthMethod->currentIndex() == static_cast<int>(AuthMethod::OAuth2))
        m_ui->Edit30->setPlaceholderText(QStringLiteral("(not used with OAuth 2.0)"));
}

void AccountConfigPage::set_ComboBox6_settings() {
    const int a = prefs().currentAccountIndex() + 1;
    Settings& s = settings();
    if (a < 1 || a > s.accountCount())
        return;
    AccountSettings& acc = s.account(a);
    // Refused before anything of the account changes, and said: the silent error path
    // would leave the user guessing why OK did nothing.
    const std::string user = uiBytes(m_ui->Edit27->text());
    const std::string password = uiBytes(m_ui->Edit30->text());
    if (const std::optional<std::string> problem = credentialProblem(user, password)) {
        prefs().dialogs().error(qs(*problem));
        throw TarnError(*problem);
    }
    const std::optional<int> minutes =
        numberInRange(m_ui->Edit29->text().toStdString(), kCheckFrequencyRange);
    if (!minutes) {
        const std::string problem = rangeMessage(kCheckFrequencyRange);
        prefs().dialogs().error(qs(problem));
        throw TarnError(problem);
    }
    const std::string name = uiLineBytes(m_ui->LabeledEdit1->text());
    const bool renamed = name != acc.Name;
    acc.Name = name;
    acc.Host = uiLineBytes(m_ui->Edit26->text());
    acc.UserID = user;
    acc.Password = password;
    acc.MailServerType = m_ui->rgServerTypeIMAP4->isChecked() ? 1 : 0;
    acc.IMAPMailBoxName = uiLineBytes(m_ui->cbMailBox->currentText());
    acc.Push = m_ui->PushCheckBox->isChecked();
    acc.Security = securityShown();
    // A malformed pin is kept as typed: the account's checks then fail with the reason.
    acc.TLSFingerprint = uiLineBytes(m_ui->EditTLSFingerprint->text().trimmed());
    // The sign-in a search filled in is the account's own from now on.
    m_signInBeforeSearch.reset();

    acc.Timer = *minutes * 60000;
    Scheduler& scheduler = checker().scheduler();
    if (a <= scheduler.timerCount())
        scheduler.checkTimer(a).setInterval(acc.Timer + 10 * a);

    acc.Active = m_ui->CheckBox14->isChecked();
    acc.Show = m_ui->CheckBox15->isChecked();
    acc.List = m_ui->CheckBox1->isChecked();
    acc.RetrieveAllBodies = m_ui->CheckBox5->isChecked();
    acc.Sound = m_ui->CheckBox3->isChecked();
    acc.SavePwd = m_ui->SavePwdCheckBox->isChecked();
    if (QMenu* menu = checker().fieldMenu(a))
        for (QAction* item : menu->actions())
            if (item->text() == QLatin1String("Email List..."))
                item->setEnabled(acc.List);
    if (prefs().mailList().BuildAccountMenu)
        prefs().mailList().BuildAccountMenu();
    acc.ActiveColor = m_activeColor;
    acc.IdleColor = m_idleColor;
    checker().SetFieldHint(a, acc.Name);
    acc.DefaultMailClient = m_ui->MailClientComboBox1->currentIndex() == 1 ? 1 : 0;
    storeSignInFields(acc);

    int selected = prefs().selectedNode();
    if (selected < 0) {
        selected = 0;
        prefs().selectNode(0, false);
    }
    if (renamed)
        prefs().RebuildAccountNodes();
    prefs().selectNode(selected, false);
}

void AccountConfigPage::ComboBox6Change() {
    const int previous = prefs().currentAccountIndex();
    if (previous >= 0 && previous < settings().accountCount()) {
        try {
            set_ComboBox6_settings();
        } catch (const std::exception&) {
            const QSignalBlocker block(m_ui->ComboBox6);
            m_ui->ComboBox6->setCurrentIndex(previous);
            throw TarnError(IllegalValueText);
        }
    }
    ComboBox6_update_sheet();
}

void AccountConfigPage::selectAccount(int index) {
    {
        const QSignalBlocker block(m_ui->ComboBox6);
        m_ui->ComboBox6->setCurrentIndex(index);
    }
    ComboBox6Change();
}

void AccountConfigPage::TabSheet9Show() {
    {
        const QSignalBlocker block(m_ui->ComboBox6);
        m_ui->ComboBox6->clear();
        for (const AccountSettings& acc : settings().Accounts)
            m_ui->ComboBox6->addItem(qs(acc.Name));
        m_ui->ComboBox6->setCurrentIndex(m_ui->ComboBox6->count() > 0 ? 0 : -1);
    }
    prefs().RebuildAccountNodes();
    ComboBox6_update_sheet();
}

void AccountConfigPage::NewButton1Click() {
    const int held = prefs().currentAccountIndex();
    if (settings().accountCount() >= 1 && held >= 0 && held < settings().accountCount())
        set_ComboBox6_settings();
    const int n = session().createAccount();
    checker().E_Setlengths();
    checker().SetFieldHint(n, settings().account(n).Name);
    TabSheet9Show();
    selectAccount(n - 1);
    prefs().selectNode(n);
    if (prefs().mailList().BuildAccountMenu)
        prefs().mailList().BuildAccountMenu();
}

void AccountConfigPage::DeletebuttonClick() {
    Settings& s = settings();
    const int count = s.accountCount();
    if (count <= 1) {
        prefs().dialogs().error(QString::fromLatin1(LastAccountText));
        return;
    }
    const int d = selectorAccount();
    if (d < 1 || d > count)
        return;
    if (!prefs().dialogs().confirm(QString::fromLatin1(DeleteQuestion) + qs(s.account(d).Name)))
        return;
    stopListing();

    // The windows' side of the deletion.
    class View : public AccountDeletionView {
    public:
        explicit View(AccountConfigPage& page) : m_page(page) {}
        void accountsRenumbered() override {
            m_page.checker().E_Setlengths();
            m_page.TabSheet9Show();
            if (m_page.prefs().currentPage() == &m_page)
                m_page.prefs().selectNode(1, false);
        }
        void showAccount(int a, const AccountSettings& acc) override {
            m_page.checker().SetFieldHint(a, acc.Name);
            m_page.checker().setMailListItemEnabled(a, acc.List);
        }
        bool purgeInMailList() override {
            if (!m_page.prefs().mailList().PurgeMaillist)
                return false;
            m_page.prefs().mailList().PurgeMaillist();
            return true;
        }
        void mailListPurged() override {
            for (int a = 1; a <= m_page.settings().accountCount(); ++a)
                m_page.checker().UpdateFieldCount(a);
            m_page.checker().UpdateTrayState();
        }

    private:
        AccountConfigPage& m_page;
    } view(*this);
    deleteAccount(session(), checker().scheduler(), d, view, prefs().options().imapPort);
    prefs().accountDeleted(d);
    if (prefs().mailList().BuildAccountMenu)
        prefs().mailList().BuildAccountMenu();
}

void AccountConfigPage::Edit29Exit() {
    // A number out of range stays for OK to name; only text that is no number is reset.
    if (parseFieldInteger(m_ui->Edit29->text().toStdString()))
        return;
    const int a = selectorAccount();
    if (a >= 1 && a <= settings().accountCount())
        showFrequency(settings().account(a).Timer);
    throw TarnError(NotANumberText);
}

void AccountConfigPage::CheckBox14Click() {
    const bool on = m_ui->CheckBox14->isChecked();
    m_ui->Edit29->setEnabled(on);
    m_ui->ComboBox7->setEnabled(on);
}

void AccountConfigPage::rgServerTypeClick() {
    const bool imap = m_ui->rgServerTypeIMAP4->isChecked();
    m_ui->cbMailBoxLabel->setVisible(imap);
    m_ui->cbMailBox->setVisible(imap);
    // Push is an IMAP4 matter; the level decides about the box inside.
    m_ui->PushBox->setVisible(imap);
    if (!imap)
        stopListing();
    layoutSignIn();
}

int AccountConfigPage::securityShown() {
    const int shown = m_ui->cbSecurity->currentIndex();
    if (shown >= 0)
        return shown;
    const int a = prefs().currentAccountIndex() + 1;
    return a >= 1 && a <= settings().accountCount() ? settings().account(a).Security : 0;
}

void AccountConfigPage::stopListing() {
    m_lister->cancel();
}

void AccountConfigPage::stopTest() {
    if (!m_tester->pending())
        return;
    m_tester->cancel();
    m_ui->TestConnectionButton->setEnabled(true);
    m_ui->SetupStatus->clear();
}

AccountSettings AccountConfigPage::accountAsTyped() {
    const int a = prefs().currentAccountIndex() + 1;
    AccountSettings acc =
        a >= 1 && a <= settings().accountCount() ? settings().account(a) : AccountSettings{};
    acc.Host = uiLineBytes(m_ui->Edit26->text());
    acc.UserID = uiLineBytes(m_ui->Edit27->text());
    acc.Password = uiBytes(m_ui->Edit30->text());
    acc.MailServerType = m_ui->rgServerTypeIMAP4->isChecked() ? 1 : 0;
    acc.Security = securityShown();
    acc.TLSFingerprint = uiLineBytes(m_ui->EditTLSFingerprint->text().trimmed());
    acc.IMAPMailBoxName = uiLineBytes(m_ui->cbMailBox->currentText());
    storeSignInFields(acc);
    return acc;
}

void AccountConfigPage::storeSignInFields(AccountSettings& acc) {
    // A blank choice keeps the stored value (one the page does not offer).
    if (const int method = m_ui->AuthMethod->currentIndex(); method >= 0)
        acc.AuthMethod = method;
    if (const QVariant id = m_ui->OAuthProvider->currentData(); id.isValid())
        acc.OAuthProvider = id.toString().toStdString();
    acc.OAuthClientID = uiLineBytes(m_ui->OAuthClientID->text().trimmed());
    acc.OAuthClientSecret = uiLineBytes(m_ui->OAuthClientSecret->text().trimmed());
    acc.OAuthAuthorizeURL = uiLineBytes(m_ui->OAuthAuthorizeURL->text().trimmed());
    acc.OAuthTokenURL = uiLineBytes(m_ui->OAuthTokenURL->text().trimmed());
    acc.OAuthScope = uiLineBytes(m_ui->OAuthScope->text().trimmed());
    acc.PasswordCommand = uiLineBytes(m_ui->PasswordCommand->text());
}

void AccountConfigPage::showFoundSignIn(const std::string& oauthProvider) {
    if (!m_signInBeforeSearch)
        m_signInBeforeSearch = {m_ui->AuthMethod->currentIndex(),
                                m_ui->OAuthProvider->currentIndex()};
    const int oauth = static_cast<int>(AuthMethod::OAuth2);
    if (!oauthProvider.empty()) {
        m_ui->AuthMethod->setCurrentIndex(oauth);
        m_ui->OAuthProvider->setCurrentIndex(
            m_ui->OAuthProvider->findData(QString::fromStdString(oauthProvider)));
    } else if (m_ui->AuthMethod->currentIndex() == oauth) {
        // A token for the old server is no sign-in for the new one.
        m_ui->AuthMethod->setCurrentIndex(static_cast<int>(AuthMethod::Automatic));
    }
}

void AccountConfigPage::restoreSignInBeforeSearch() {
    if (!m_signInBeforeSearch)
        return;
    m_ui->AuthMethod->setCurrentIndex(m_signInBeforeSearch->first);
    m_ui->OAuthProvider->setCurrentIndex(m_signInBeforeSearch->second);
    m_signInBeforeSearch.reset();
}

void AccountConfigPage::stopFinding() {
    if (!m_finder->pending())
        return;
    m_finder->cancel();
    m_ui->FindSettingsButton->setText(QStringLiteral("Find Settings"));
    m_ui->SetupStatus->clear();
}

void AccountConfigPage::FindSettingsClick() {
    if (m_finder->pending()) {
        stopFinding();
        m_ui->SetupStatus->setText(QStringLiteral("Search stopped."));
        return;
    }
    const std::string address = uiLineBytes(m_ui->EmailAddress->text().trimmed());
    const std::string domain = emailDomain(address);
    m_ui->SetupStatus->setToolTip(QString());
    if (domain.empty()) {
        m_ui->SetupStatus->setText(
            address.empty() ? QStringLiteral("Please type your e-mail address first.")
                            : QStringLiteral("That is no address to look up; it reads like "
                                             "name@example.com."));
        return;
    }
    // What the search finds replaces the fields a test would use.
    stopTest();
    SettingsSearchOptions options = defaultSettingsSearchOptions();
    if (m_searchSeams)
        m_searchSeams(options);
    m_ui->SetupStatus->setText(qs("Looking for the settings of " + domain + "..."));
    m_ui->FindSettingsButton->setText(QStringLiteral("Stop"));
    const bool started =
        m_finder->start([this, address, domain, options](const std::atomic<bool>& cancelled) {
            const SettingsSearchResult found = searchSettings(address, options, &cancelled);
            return [this, found, domain] { showFoundSettings(found, domain); };
        });
    if (!started) {
        m_ui->FindSettingsButton->setText(QStringLiteral("Find Settings"));
        m_ui->SetupStatus->setText(QStringLiteral("No thread could be started for the search."));
    }
}

void AccountConfigPage::showFoundSettings(const SettingsSearchResult& found,
                                          const std::string& domain) {
    QString reasons;
    for (const std::string& r : found.reasons)
        reasons += (reasons.isEmpty() ? QString() : QStringLiteral("\n")) + qs(r);
    m_ui->SetupStatus->setToolTip(reasons);
    if (!found.found) {
        m_ui->SetupStatus->setText(
            qs("No settings found for " + domain + "; please enter them below."));
        return;
    }
    stopListing();
    const FoundServer& server = found.server;
    const bool imap = server.kind == MailServerKind::Imap4;
    const int security = static_cast<int>(server.security);
    (imap ? m_ui->rgServerTypeIMAP4 : m_ui->rgServerTypePOP3)->setChecked(true);
    rgServerTypeClick();
    m_ui->cbSecurity->setCurrentIndex(security);
    // The port goes into the server field only where the type and security would not
    // choose it anyway.
    const std::optional<int> usual = checkPort(
        imap ? 1 : 0, security, splitHostSetting(server.host), prefs().options().imapPort);
    m_ui->Edit26->setText(
        qs(usual == server.port ? server.host : server.host + ":" + std::to_string(server.port)));
    if (!server.username.empty())
        m_ui->Edit27->setText(qs(server.username));
    showFoundSignIn(found.oauthProvider);
    showConnectionChoice();
    m_ui->SetupStatus->setText(qs("Settings found at " + found.origin));
}

void AccountConfigPage::TestConnectionClick() {
    // The fields a search under way would fill are not the ones tested.
    stopFinding();
    const AccountSettings acc = accountAsTyped();
    CheckOptions options;
    options.imapPort = prefs().options().imapPort;
    // A password only the keyring holds is read there, on the test's thread.
    std::optional<SecretKey> keyringKey;
    SecretStore* keyring = session().settingsStore().secretStore();
    if (acc.Password.empty() && acc.passwordInKeyring())
        keyringKey = session().settingsStore().secretKey(acc, SecretKind::Password);
    m_ui->SetupStatus->setText(QStringLiteral("Testing the connection..."));
    m_ui->TestConnectionButton->setEnabled(false);
    const bool started =
        m_tester->start([this, acc, options, keyringKey, keyring](const std::atomic<bool>&) {
            AccountSettings account = acc;
            ConnectionTestResult r;
            bool ready = true;
            if (keyringKey) {
                const SecretAnswer answer =
                    keyring ? keyring->read(*keyringKey, options.keyringTimeout) : SecretAnswer{};
                if (answer.status == SecretAnswer::Status::Found) {
                    account.Password = answer.secret;
                } else {
                    ready = false;
                    r.kind = ErrorKind::LocalError;
                    r.text = "The password could not be read from the desktop keyring.";
                }
            }
            if (ready)
                r = testConnection(account, options);
            const QString outcome = qs(r.outcome());
            return [this, outcome] { m_ui->SetupStatus->setText(outcome); };
        });
    if (!started) {
        m_ui->TestConnectionButton->setEnabled(true);
        m_ui->SetupStatus->setText(QStringLiteral("No thread could be started for the test."));
    }
}

void AccountConfigPage::cbMailBoxEnter() {
    const QString text = m_ui->cbMailBox->currentText();
    m_ui->cbMailBox->clear();
    m_ui->cbMailBox->setEditText(text);
    // As a check of the account connects: without security only the text before a ":" names
    // the server and the port is the fixed one; with security a port there is honoured.
    const std::string hostText = uiLineBytes(m_ui->Edit26->text());
    const int security = securityShown();
    const std::optional<ServerEndpoint> server = mailboxListingEndpoint(
        security == static_cast<int>(ConnectionSecurity::None) ? splitHostSetting(hostText).host
                                                               : hostText,
        security, uiLineBytes(m_ui->EditTLSFingerprint->text().trimmed()));
    // A port that is no number leaves the list empty, as any failure of the listing does.
    if (!server) {
        stopListing();
        return;
    }
    m_lister->start(*server, uiLineBytes(m_ui->Edit27->text()), uiBytes(m_ui->Edit30->text()));
}

void AccountConfigPage::MailClientComboBox1Change() {
    if (m_ui->MailClientComboBox1->currentIndex() != 1)
        return;
    const std::string file = prefs().dialogs().openFileName(
        QStringLiteral("Browse for Email Client"), QStringLiteral("All Files (*)"));
    std::error_code ec;
    if (file.empty() || !std::filesystem::is_regular_file(file, ec))
        return;
    const int a = selectorAccount();
    if (a >= 1 && a <= settings().accountCount())
        settings().account(a).CustomMailClientPath = file;
}

void AccountConfigPage::repaintFields() {
    checker().SetColorSet();
}

void AccountConfigPage::chooseSwatchColor(bool active) {
    const std::uint32_t before = active ? m_activeColor : m_idleColor;
    const std::optional<std::uint32_t> chosen = prefs().dialogs().chooseColor(before);
    const std::uint32_t color = chosen.value_or(before);
    setSwatch(active, color);
    const int a = prefs().currentAccountIndex() + 1;
    if (a >= 1 && a <= settings().accountCount())
        (active ? settings().account(a).ActiveColor : settings().account(a).IdleColor) = color;
    repaintFields();
}

void AccountConfigPage::CAccActiveClick() {
    chooseSwatchColor(true);
}

void AccountConfigPage::CAccIdleClick() {
    chooseSwatchColor(false);
}

void AccountConfigPage::ResetAccColorsClick() {
    const CheckerColors& colors = mainSettings().Colors;
    setSwatch(true, colors.Active);
    setSwatch(false, colors.Idle);
    const int a = prefs().currentAccountIndex() + 1;
    if (a >= 1 && a <= settings().accountCount()) {
        settings().account(a).ActiveColor = colors.Active;
        settings().account(a).IdleColor = colors.Idle;
    }
    repaintFields();
}

} // namespace tarn
