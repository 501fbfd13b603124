// telvo-artwork OUTPUT-FOLDER SOURCE.svg...
// Renders each SVG source at its own size (one point, one pixel) to OUTPUT-FOLDER/<name>.png
// with a transparent background. Exits 1 when a source cannot be read or written.
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

#include "app/LeakSuppressions.h"

// Qt's and fontconfig's own process-lifetime allocations are not ours to report.
extern "C" const char* __lsan_default_suppressions() { return telvo::app::kQtLeakSuppressions; }

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: telvo-artwork OUTPUT-FOLDER SOURCE.svg...\n");
        return 2;
    }
    const QString folder = args[1];
    int failures = 0;
    for (int i = 2; i < args.size(); ++i) {
        QSvgRenderer renderer(args[i]);
        const QSize size = renderer.defaultSize();
        if (!renderer.isValid() || size.isEmpty()) {
            std::fprintf(stderr, "telvo-artwork: cannot read %s\n", qPrintable(args[i]));
            ++failures;
            continue;
        }
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        const QString out = folder + '/' + QFileInfo(args[i]).completeBaseName() + QStringLiteral(".png");
        if (!image.save(out, "PNG")) {
            std::fprintf(stderr, "telvo-artwork: cannot write %s\n", qPrintable(out));
            ++failures;
        }
    }
    return failures ? 1 : 0;
}
