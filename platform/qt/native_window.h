// What the Qt backend keeps for one window, and the backend's own widgets. Only the platform
// layer and tests include this.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <cstdint>

#include "platform/dialog_template.h"

namespace platform {

class Dialog;
class Window;

struct NativeWindow {
    QPointer<QWidget> widget;
    int32_t id = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
};

// A frame control with a drawing surface the size of its client area: what is drawn on it
// stays until drawn over, and painting copies it to the screen. The one-pixel static edge
// lies outside the client area.
class PaneWidget : public QWidget {
  public:
    explicit PaneWidget(QWidget* parent);
    QImage& Surface() { return surface_; }
    // Back to the pane's own look: button face inside a grey frame along the client edge.
    void EraseSurface();
    QPoint ClientOrigin() const { return {kEdge, kEdge}; }
    static constexpr int kEdge = 1;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QImage surface_;
};

// The dialog window: forwards mouse messages, paints and the ending keys to its Dialog.
class DialogWidget : public QDialog {
  public:
    DialogWidget(Dialog* owner, QWidget* parent);
    void DetachOwner() { owner_ = nullptr; }

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  public:
    void reject() override;

  private:
    void AskForCursor();
    Dialog* owner_;
    bool paintQueued_ = false;
};

// The widget behind a platform window (tests use it to drive controls), or null.
QWidget* WidgetOf(const Window* window);
// The client origin of a widget within it (the static edge of panes).
QPoint ClientOriginOf(const QWidget* widget);
// The drawing surface of a window, or null when it has none.
QImage* SurfaceOf(NativeWindow* window);

}  // namespace platform
