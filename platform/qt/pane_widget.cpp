#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include "platform/drawing_context.h"
#include "platform/qt/native_window.h"

namespace platform {

PaneWidget::PaneWidget(QWidget* parent) : QWidget(parent) {
    // Everything the pane shows comes from its surface, so a repaint of the pane never
    // needs the dialog underneath.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PaneWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QSize client(std::max(0, width() - 2 * kEdge), std::max(0, height() - 2 * kEdge));
    if (surface_.size() == client) return;
    surface_ = QImage(client, QImage::Format_RGB32);
    EraseSurface();
}

void PaneWidget::EraseSurface() {
    const Colour face = ButtonFaceColour();
    surface_.fill(QColor(face.red, face.green, face.blue));
    if (!surface_.isNull()) {
        // The grey frame the control draws along its client edge.
        QPainter painter(&surface_);
        painter.setPen(QColor(128, 128, 128));
        painter.drawRect(0, 0, surface_.width() - 1, surface_.height() - 1);
    }
}

void PaneWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    // The static edge: shadow above and left, light below and right.
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.drawLine(0, 0, 0, height() - 1);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
    painter.drawLine(width() - 1, 0, width() - 1, height() - 1);
    painter.drawImage(kEdge, kEdge, surface_);
}

}  // namespace platform
