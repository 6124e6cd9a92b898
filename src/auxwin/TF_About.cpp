#include "auxwin/TF_About.h"

#include "ui_TF_About.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>

namespace tarn {

QFont TF_About::textFont(int pixelSize) {
    QFont f;
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setBold(true);
    f.setPixelSize(pixelSize);
    return f;
}

TF_About::TF_About(const QString& homePage, std::function<void()> launchHomePage, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_ui(std::make_unique<Ui::TF_About>()), m_launchHomePage(std::move(launchHomePage)) {
    m_ui->setupUi(this);
    setFixedSize(469, 294);
    QPalette silver = palette();
    silver.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    setPalette(silver);

    m_ui->Label1->setText(QString::fromLatin1(NoticeText));
    m_ui->Label5->setText(homePage);
    const struct {
        QLabel* label;
        int size;
    } sizes[] = {{m_ui->Label2, 31}, {m_ui->Label3, 17}, {m_ui->Label1, 17},
                 {m_ui->Label4, 17}, {m_ui->Label5, 22}, {m_ui->Label6, 10}};
    for (const auto& s : sizes)
        s.label->setFont(textFont(s.size));
    for (QLabel* link : {m_ui->Label5, m_ui->Label6}) {
        QFont f = link->font();
        f.setUnderline(true);
        link->setFont(f);
        QPalette p = link->palette();
        p.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x80)); // navy
        link->setPalette(p);
        link->setAccessibleDescription(QStringLiteral("Opens the Tarnwick home page"));
        link->installEventFilter(this);
    }
    fitWidth();
    connect(m_ui->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TF_About::fitWidth() {
    // The designed width holds the texts in the designed face; a wider face or a longer
    // text widens the box instead of clipping both ends.
    constexpr int kDesignWidth = 469;
    constexpr int kMargin = 12;
    int width = kDesignWidth;
    QList<QLabel*> labels = findChildren<QLabel*>();
    for (QLabel* l : labels) {
        const QFontMetrics fm(l->font());
        for (const QString& line : l->text().split(QLatin1Char('\n')))
            width = std::max(width, fm.horizontalAdvance(line) + 2 * kMargin);
    }
    for (QLabel* l : labels)
        l->setGeometry(0, l->y(), width, l->height());
    QPushButton* close = m_ui->Button1;
    close->move((width - close->width()) / 2, close->y());
    setFixedSize(width, height());
}

TF_About::~TF_About() = default;

bool TF_About::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->Label5 || watched == m_ui->Label6) {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            Label5Click();
            return true;
        }
        // The links can be reached and followed with the keyboard too.
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
                Label5Click();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TF_About::Label5Click() {
    if (m_launchHomePage)
        m_launchHomePage();
}

void TF_About::Button1Click() {
    hide();
}

void TF_About::setGotcha() {
    m_ui->Label1->setText(QString::fromLatin1(GotchaText));
    fitWidth();
}

void TF_About::showCentred() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
    show();
    raise();
    activateWindow();
}

} // namespace tarn
