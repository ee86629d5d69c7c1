#include "platform/window.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "platform/qt/native_window.h"

namespace platform {

Window::Window(NativeWindow* native) : native_(native) {}

Window::~Window() { delete native_; }

void Window::Attach(NativeWindow* native) {
    if (native_ != native) delete native_;
    native_ = native;
}

bool Window::IsValid() const { return native_ != nullptr && native_->widget != nullptr; }

int32_t Window::GetDlgCtrlID() const { return native_ != nullptr ? native_->id : 0; }

uint32_t Window::GetExStyle() const { return native_ != nullptr ? native_->exStyle : 0; }

void Window::SetWindowText(const std::string& text) {
    if (!IsValid()) return;
    QWidget* widget = native_->widget;
    const QString value = QString::fromLocal8Bit(text.c_str());
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(value);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(value);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(value);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        if (combo->isEditable()) combo->setEditText(value);
    } else {
        widget->setWindowTitle(value);
    }
}

std::string Window::GetWindowText() const {
    if (!IsValid()) return {};
    QWidget* widget = native_->widget;
    QString value;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        value = label->text();
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        value = edit->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        value = button->text();
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        value = group->title();
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        value = combo->currentText();
    } else {
        value = widget->windowTitle();
    }
    return value.toLocal8Bit().toStdString();
}

void Window::EnableWindow(bool enable) {
    if (IsValid()) native_->widget->setEnabled(enable);
}

bool Window::IsWindowEnabled() const { return IsValid() && native_->widget->isEnabled(); }

Rect Window::GetClientRect() const {
    if (!IsValid()) return {};
    const QWidget* widget = native_->widget;
    const QPoint origin = ClientOriginOf(widget);
    return Rect{0, 0, widget->width() - 2 * origin.x(), widget->height() - 2 * origin.y()};
}

Rect Window::GetWindowRect() const {
    if (!IsValid()) return {};
    const QWidget* widget = native_->widget;
    const QPoint topLeft =
        widget->isWindow() ? widget->geometry().topLeft() : widget->mapToGlobal(QPoint(0, 0));
    return Rect{topLeft.x(), topLeft.y(), topLeft.x() + widget->width(),
                topLeft.y() + widget->height()};
}

Point Window::ScreenToClient(Point point) const {
    if (!IsValid()) return point;
    const QWidget* widget = native_->widget;
    const QPoint local = widget->mapFromGlobal(QPoint(point.x, point.y)) - ClientOriginOf(widget);
    return Point{local.x(), local.y()};
}

Point Window::ClientToScreen(Point point) const {
    if (!IsValid()) return point;
    const QWidget* widget = native_->widget;
    const QPoint global = widget->mapToGlobal(QPoint(point.x, point.y) + ClientOriginOf(widget));
    return Point{global.x(), global.y()};
}

void Window::Invalidate(bool erase) {
    if (!IsValid()) return;
    if (erase) {
        if (auto* pane = dynamic_cast<PaneWidget*>(native_->widget.data())) pane->EraseSurface();
    }
    native_->widget->update();
}

void Window::UpdateWindow() {
    if (IsValid() && native_->widget->isVisible()) native_->widget->repaint();
}

DrawingContext Window::GetDC() { return DrawingContext(native_); }

QWidget* WidgetOf(const Window* window) {
    if (window == nullptr || window->Native() == nullptr) return nullptr;
    return window->Native()->widget;
}

QPoint ClientOriginOf(const QWidget* widget) {
    if (const auto* pane = dynamic_cast<const PaneWidget*>(widget)) return pane->ClientOrigin();
    return {0, 0};
}

QImage* SurfaceOf(NativeWindow* window) {
    if (window == nullptr || window->widget == nullptr) return nullptr;
    if (auto* pane = dynamic_cast<PaneWidget*>(window->widget.data())) return &pane->Surface();
    return nullptr;
}

}  // namespace platform
