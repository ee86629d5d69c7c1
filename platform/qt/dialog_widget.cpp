#include <QMouseEvent>
#include <QPaintEvent>
#include <QPointer>
#include <QRegion>
#include <QWheelEvent>

#include "platform/cursor.h"
#include "platform/dialog.h"
#include "platform/qt/native_window.h"

namespace platform {

QPointer<QWidget>& CursorTarget();

namespace {

uint32_t KeyFlags(const QSinglePointEvent* event) {
    uint32_t flags = 0;
    if (event->buttons() & Qt::LeftButton) flags |= MK_LBUTTON;
    if (event->buttons() & Qt::RightButton) flags |= MK_RBUTTON;
    if (event->modifiers() & Qt::ShiftModifier) flags |= MK_SHIFT;
    if (event->modifiers() & Qt::ControlModifier) flags |= MK_CONTROL;
    return flags;
}

Point ClientPoint(const QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    return Point{point.x(), point.y()};
}

}  // namespace

DialogWidget::DialogWidget(Dialog* owner, QWidget* parent) : QDialog(parent), owner_(owner) {
    setMouseTracking(true);
}

void DialogWidget::AskForCursor() {
    if (owner_ == nullptr) return;
    CursorTarget() = this;
    // Not handled: the default pointer.
    if (!owner_->OnSetCursor()) SetCursor(nullptr);
    CursorTarget() = nullptr;
}

void DialogWidget::mouseMoveEvent(QMouseEvent* event) {
    if (owner_ == nullptr) return;
    owner_->OnMouseMove(KeyFlags(event), ClientPoint(event));
    AskForCursor();
}

void DialogWidget::mousePressEvent(QMouseEvent* event) {
    if (owner_ == nullptr) return;
    if (event->button() == Qt::LeftButton)
        owner_->OnLButtonDown(KeyFlags(event), ClientPoint(event));
    if (event->button() == Qt::RightButton)
        owner_->OnRButtonDown(KeyFlags(event), ClientPoint(event));
}

void DialogWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (owner_ == nullptr) return;
    if (event->button() == Qt::LeftButton) owner_->OnLButtonUp(KeyFlags(event), ClientPoint(event));
}

void DialogWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (owner_ == nullptr) return;
    if (event->button() == Qt::LeftButton) {
        owner_->OnLButtonDblClk(KeyFlags(event), ClientPoint(event));
    } else if (event->button() == Qt::RightButton) {
        owner_->OnRButtonDown(KeyFlags(event), ClientPoint(event));
    }
}

void DialogWidget::leaveEvent(QEvent* event) {
    QDialog::leaveEvent(event);
    unsetCursor();
    if (owner_ != nullptr) owner_->OnMouseLeave();
}

bool DialogWidget::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter && owner_ != nullptr) owner_->OnMouseLeave();
    return QDialog::eventFilter(watched, event);
}

void DialogWidget::wheelEvent(QWheelEvent* event) {
    if (owner_ == nullptr) return;
    const QPoint point = event->position().toPoint();
    owner_->OnMouseWheel(KeyFlags(event), event->angleDelta().y(), Point{point.x(), point.y()});
    event->accept();
}

void DialogWidget::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (owner_ == nullptr) return;
    // Only a paint of the dialog itself counts, not the repaint of a control that shows
    // through to the dialog underneath.
    QRegion own = event->region();
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget != nullptr && widget->isVisible()) own -= widget->geometry();
    }
    if (own.isEmpty() || paintQueued_) return;
    // The handler draws on the panes' surfaces; it runs once this paint is done.
    paintQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this]() {
            paintQueued_ = false;
            if (owner_ != nullptr && isVisible()) owner_->OnPaint();
        },
        Qt::QueuedConnection);
}

void DialogWidget::reject() {
    // The Escape key and the close box.
    if (owner_ != nullptr) owner_->OnCancel();
}

}  // namespace platform
