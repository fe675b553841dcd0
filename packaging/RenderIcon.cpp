// Renders the app's SVG icon into one PNG size of the icon theme:
//   ferlow-render-icon <icon.svg> <size> <icon.png>
// A build tool; desktops that cannot scale SVG icons use these.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: ferlow-render-icon <icon.svg> <size> <icon.png>\n", stderr);
        return 64;
    }
    // No display is needed, nor wanted, at build time.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    bool isNumber = false;
    const int size = QString::fromLocal8Bit(argv[2]).toInt(&isNumber);
    if (!svg.isValid() || !isNumber || size < 1 || size > 1024) {
        std::fprintf(stderr, "ferlow-render-icon: cannot render %s at %s pixels\n", argv[1], argv[2]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "ferlow-render-icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
