// Renders an SVG picture into a Windows .ico file (the toolbar button's icons).
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: make-icon PICTURE.svg SIZE OUT.ico\n");
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    const int size = QByteArray(argv[2]).toInt();
    if (!svg.isValid() || size < 16 || size > 256) {
        std::fprintf(stderr, "make-icon: cannot read %s\n", argv[1]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    svg.render(&painter);
    painter.end();
    QImageWriter writer(QString::fromLocal8Bit(argv[3]), "ico");
    if (!writer.write(image)) {
        std::fprintf(stderr, "make-icon: cannot write %s: %s\n", argv[3], qPrintable(writer.errorString()));
        return 1;
    }
    return 0;
}
