#include "app/TarnApplication.h"

namespace tarn {

TarnApplication::TarnApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Tarnwick"));
    // The checker window is a tool window that comes and goes; only Quit ends the program.
    setQuitOnLastWindowClosed(false);
}

bool TarnApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ++m_dropped;
        return false;
    }
}

} // namespace tarn
