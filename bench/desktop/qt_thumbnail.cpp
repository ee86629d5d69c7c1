// qt_thumbnail FILE SIZE [OUT.png]: what a Qt file manager does for a thumbnail: QImageReader
// with a scaled size of at most SIZE x SIZE (the aspect ratio kept). Prints the image's size and
// the time QImageReader took; writes the thumbnail to OUT.png when given.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: qt_thumbnail FILE SIZE [OUT.png]\n");
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    const QSize full = reader.size();
    if (!full.isValid()) {
        std::fprintf(stderr, "qt_thumbnail: %s\n", qUtf8Printable(reader.errorString()));
        return 1;
    }
    reader.setScaledSize(full.scaled(QSize(atoi(argv[2]), atoi(argv[2])), Qt::KeepAspectRatio));
    const QImage image = reader.read();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (image.isNull()) {
        std::fprintf(stderr, "qt_thumbnail: %s\n", qUtf8Printable(reader.errorString()));
        return 1;
    }
    std::printf("%d x %d from %d x %d in %.1f ms\n", image.width(), image.height(), full.width(),
                full.height(), ms);
    if (argc > 3 && !image.save(QString::fromLocal8Bit(argv[3]))) return 1;
    return 0;
}
