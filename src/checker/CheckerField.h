#pragma once

#include "core/FieldHint.h"

#include <QFrame>

#include <cstdint>

class QMenu;

namespace tarn {

// One account's checker field: its count centred on its colour, with a raised bevel, the
// account's hint and its field menu.
class CheckerField : public QFrame {
    Q_OBJECT
public:
    explicit CheckerField(int account, QWidget* parent = nullptr);

    int account() const { return m_account; }
    void setColor(std::uint32_t color);
    std::uint32_t color() const { return m_color; }
    void setFontColor(std::uint32_t color);
    std::uint32_t fontColor() const { return m_fontColor; }
    void setBevel(int width);
    int bevel() const { return m_bevel; }
    void setText(const QString& text);
    QString text() const { return m_text; }
    void setPointSize(int points);
    // The account's hint; the tooltip adds the states below it.
    void setHint(const QString& hint);
    QString hint() const { return m_hint; }
    // Offline: the field is drawn dimmed and its hint says so.
    void setOffline(bool offline);
    bool offline() const { return m_state.offline; }
    // "HH:MM" since the account's push connection is down; empty when it is up.
    void setPushDownSince(const QString& since);
    void setFieldMenu(QMenu* menu) { m_menu = menu; }
    QMenu* fieldMenu() const { return m_menu; }

    // A colour of the settings (0x00BBGGRR, or 0x80000000 + a desktop colour index).
    static QColor toQColor(std::uint32_t color);

signals:
    void doubleClicked(int account);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    int m_account;
    std::uint32_t m_color = 0;
    std::uint32_t m_fontColor = 0xFFFFFF;
    int m_bevel = 0;
    QString m_text;
    QMenu* m_menu = nullptr;
    QString m_hint;
    FieldHintState m_state;

    void updateToolTip();
};

} // namespace tarn
