#pragma once

#include <QPlainTextEdit>

#include <string_view>

namespace tarn {

// The read-only text area of the message and header windows: the desktop's fixed-width font
// at 10 points on the button face colour, lines never wrapped by the widget, both scroll bars.
class MessageTextArea : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MessageTextArea(QWidget* parent = nullptr);

    // Shows bytes as they are stored; CR LF ends a line.
    void setBytes(std::string_view bytes);
};

} // namespace tarn
