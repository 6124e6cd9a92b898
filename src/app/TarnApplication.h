#pragma once

#include <QApplication>

namespace tarn {

// The application object. An error that escapes a command, a timer or a window event ends
// that event and is dropped without a word: only messages shown on purpose reach the user.
class TarnApplication : public QApplication {
    Q_OBJECT
public:
    TarnApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
    // Errors dropped so far (for tests).
    int droppedErrors() const { return m_dropped; }

private:
    int m_dropped = 0;
};

} // namespace tarn
