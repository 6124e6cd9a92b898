#include "checker/TF_ShutdownForm.h"

#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace tarn {

TF_ShutdownForm::TF_ShutdownForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName("ShutdownForm");
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(CaptionText);
    setFont(QFont("Arial", 10));
    setFixedSize(400, 135);

    m_label = new QLabel(LabelText, this);
    m_label->setObjectName("Label1");
    m_label->setGeometry(45, 24, 380, m_label->sizeHint().height());

    m_abort = new QPushButton(AbortText, this);
    m_abort->setObjectName("AbortButton");
    m_abort->setGeometry(158, 64, 67, 24);
    m_abort->setDefault(true);
    m_abort->setAutoDefault(true);
    connect(m_abort, &QPushButton::clicked, this, [this] { emit abortClicked(this); });

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect r = screen->geometry();
        move(r.left() + (r.width() - width()) / 2, r.top() + (r.height() - height()) / 2);
    }
}

void TF_ShutdownForm::closeEvent(QCloseEvent* event) {
    emit closed(this);
    event->accept();
}

void TF_ShutdownForm::reject() {
    // Escape closes the window like its close box (QDialog would only hide it).
    close();
}

} // namespace tarn
