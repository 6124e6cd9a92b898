// Renders the program's SVG icon into a square PNG of the given size, for the icon theme's
// fixed-size folders. Usage: tarn-render-icon ICON.svg SIZE OUT.png
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s ICON.svg SIZE OUT.png\n", argv[0]);
        return 2;
    }
    // No display is needed to draw into an image.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const int size = std::atoi(argv[2]);
    if (size < 8 || size > 1024) {
        std::fprintf(stderr, "render-icon: size %s out of range\n", argv[2]);
        return 2;
    }
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    reader.setScaledSize(QSize(size, size));
    const QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "render-icon: %s: %s\n", argv[1],
                     reader.errorString().toLocal8Bit().constData());
        return 1;
    }
    if (!image.convertToFormat(QImage::Format_ARGB32).save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "render-icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
