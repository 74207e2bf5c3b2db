// Renders an SVG icon to a square PNG at build time, so the fixed-size icon always matches the
// scalable one. Usage: render-icon INPUT.svg OUTPUT.png SIZE
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>

int main(int argc, char **argv) {
    // Only the image plugins are needed, and the build may have no display.
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool sizeOk = false;
    const int size = arguments.size() == 4 ? arguments[3].toInt(&sizeOk) : 0;
    if (!sizeOk || size <= 0) {
        std::fputs("usage: render-icon INPUT.svg OUTPUT.png SIZE\n", stderr);
        return 2;
    }
    QImageReader reader(arguments[1], "svg");
    reader.setScaledSize(QSize(size, size));
    QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "render-icon: %s: %s\n", qUtf8Printable(arguments[1]),
                     qUtf8Printable(reader.errorString()));
        return 1;
    }
    image = image.convertToFormat(QImage::Format_ARGB32);
    if (!image.save(arguments[2], "PNG")) {
        std::fprintf(stderr, "render-icon: cannot write %s\n", qUtf8Printable(arguments[2]));
        return 1;
    }
    return 0;
}
