// viewer-screenshots DATA_DIR OUTPUT_DIR: opens the viewer dialog on Kavel files made from
// the photographs in DATA_DIR and writes PNG pictures of it to OUTPUT_DIR: a grey and a
// colour photograph enlarged and a 512 x 512 one at its own size, as the dialog first shows
// them, after the red box has been dragged, and
// after a double-click zoom in the preview. Runs on Qt's offscreen platform.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QTest>
#include <QWindow>
#include <cstdio>
#include <memory>
#include <string>

#include "host/module_load.h"
#include "viewer/image_file.h"
#include "host/resource_ids.h"
#include "platform/qt/native_window.h"
#include "viewer/screenshots/sample_files.h"
#include "viewer/viewer_dialog.h"

namespace {

// Runs the event loop until the first paint has placed the boxes (or a few seconds passed).
void WaitForFirstPaint(ViewerDialog& dialog) {
    QElapsedTimer timer;
    timer.start();
    while (!ViewerDialog::IsPlaced(dialog.m_redCentre) && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QCoreApplication::processEvents();
}

// A point of a pane's client area in the dialog's client coordinates.
QPoint InDialog(ViewerDialog& dialog, int32_t pane, platform::Point point) {
    const QWidget* widget = platform::WidgetOf(dialog.GetDlgItem(pane));
    return widget->geometry().topLeft() + platform::ClientOriginOf(widget) +
           QPoint(point.x, point.y);
}

// The dialog with a plain caption bar above it, as a window manager would frame it.
QImage Framed(QWidget* dialog) {
    const QPixmap client = dialog->grab();
    const int bar = 24;
    QImage framed(client.width() + 2, client.height() + bar + 1, QImage::Format_RGB32);
    framed.fill(QColor(70, 90, 120));
    QPainter painter(&framed);
    painter.drawPixmap(1, bar, client);
    painter.setPen(Qt::white);
    QFont font = dialog->font();
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(8, 0, framed.width() - 16, bar), Qt::AlignVCenter | Qt::AlignLeft,
                     dialog->windowTitle());
    return framed;
}

bool Save(QWidget* dialog, const QString& path) {
    const bool saved = Framed(dialog).save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.toLocal8Bit().constData());
    return saved;
}

struct Shot {
    const char* name;
    SampleFile sample;
};

bool TakeShots(const Shot& shot, const QString& kvlPath, const QString& outputDir) {
    ImageFile image(kvlPath.toLocal8Bit().constData());
    ViewerChoice choice;
    choice.image = &image;
    auto dialog = std::make_unique<ViewerDialog>(nullptr, choice);
    bool ok = dialog->Create();
    QWidget* widget = ok ? platform::WidgetOf(dialog.get()) : nullptr;
    if (widget != nullptr) {
        widget->move(40, 40);
        WaitForFirstPaint(*dialog);
        // Mouse events go through the window, as the windowing system delivers them.
        QWindow* window = widget->windowHandle();
        const QString stem = outputDir + "/viewer-" + shot.name;
        // The pointer over the preview: its full-resolution position in the status line.
        const QWidget* preview = platform::WidgetOf(dialog->GetDlgItem(IDC_PREVIEW_PANE));
        QTest::mouseMove(window, preview->geometry().center());
        ok = Save(widget, stem + ".png");

        // Drag the red box from its centre up and to the left within the thumbnail.
        const QPoint from = InDialog(*dialog, IDC_FULL_VIEW_PANE, dialog->m_redCentre);
        const QPoint to = from + QPoint(-28, -30);
        QTest::mousePress(window, Qt::LeftButton, {}, from);
        QTest::mouseMove(window, from + QPoint(-10, -10));
        QTest::mouseMove(window, to);
        QTest::mouseRelease(window, Qt::LeftButton, {}, to);
        QCoreApplication::processEvents();
        ok = Save(widget, stem + "-dragged.png") && ok;

        // Double-click a little right of the preview's middle: one ratio step closer.
        const QPoint click = preview->geometry().center() + QPoint(40, 10);
        QTest::mouseDClick(window, Qt::LeftButton, {}, click);
        QTest::mouseMove(window, click + QPoint(1, 0));
        QCoreApplication::processEvents();
        ok = Save(widget, stem + "-zoomed.png") && ok;
    }
    dialog.reset();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: viewer-screenshots DATA_DIR OUTPUT_DIR\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    OnModuleAttach(reinterpret_cast<const void*>(&OnModuleAttach));

    const QString data = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(output);
    const Shot shots[] = {
        {"grey", {(data + "/camera.png").toStdString(), 2048, 2048, true, 80.0}},
        {"colour", {(data + "/coffee.png").toStdString(), 2400, 1600, false, 80.0}},
        // A photograph at its own size: the dialog opens at 1:1, the picture in the preview.
        {"small", {(data + "/astronaut.png").toStdString(), 512, 512, false, 80.0}},
    };
    bool ok = true;
    for (const Shot& shot : shots) {
        const QString kvl = output + "/" + shot.name + ".kvl";
        std::string error;
        if (!MakeSampleFile(shot.sample, kvl.toStdString(), &error)) {
            std::fprintf(stderr, "viewer-screenshots: %s\n", error.c_str());
            ok = false;
            continue;
        }
        ok = TakeShots(shot, kvl, output) && ok;
        QFile::remove(kvl);
    }
    return ok ? 0 : 1;
}
