#include "gimp/dialog_parent.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>
#include <cstdlib>

namespace {

// Makes every top-level window of the application transient for the parent as it is shown,
// so that the window manager keeps it above the parent.
class TransientForParent : public QObject {
  public:
    explicit TransientForParent(QWindow* parent) : parent_(parent) {}

    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show && object->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(object);
            QWindow* window = widget->isWindow() ? widget->windowHandle() : nullptr;
            if (window != nullptr && window->transientParent() == nullptr)
                window->setTransientParent(parent_);
        }
        return false;
    }

  private:
    QWindow* parent_;
};

bool HasX11Display() {
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0';
}

}  // namespace

struct DialogParent::State {
    std::unique_ptr<QApplication> application;
    std::unique_ptr<QWindow> parent;
    std::unique_ptr<TransientForParent> filter;
};

DialogParent::DialogParent(uint32_t parentWindow) : state_(std::make_unique<State>()) {
    if (QCoreApplication::instance() != nullptr || !HasX11Display()) return;
    // GIMP's plug-ins run on GTK 2: a platform theme that would bring GTK 3 into this process
    // must not be chosen from the desktop's name.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORMTHEME")) unsetenv("XDG_CURRENT_DESKTOP");
    static int argc = 1;
    static char name[] = "file-kavel";
    static char* argv[] = {name, nullptr};
    state_->application = std::make_unique<QApplication>(argc, argv);
    if (parentWindow == 0 || QGuiApplication::platformName() != QLatin1String("xcb")) return;
    state_->parent.reset(QWindow::fromWinId(static_cast<WId>(parentWindow)));
    if (state_->parent == nullptr) return;
    state_->filter = std::make_unique<TransientForParent>(state_->parent.get());
    state_->application->installEventFilter(state_->filter.get());
}

DialogParent::~DialogParent() {
    if (state_->application != nullptr && state_->filter != nullptr)
        state_->application->removeEventFilter(state_->filter.get());
    state_->filter.reset();
    state_->parent.reset();
    state_->application.reset();
}
