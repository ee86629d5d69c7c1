// Starting Qt inside a host that may not be a Qt program.
#include <QApplication>
#include <QGuiApplication>
#include <cstdlib>

#include "platform/module_instance.h"

namespace platform {
namespace {

// The application object the module created, or null. It is deleted only by
// ShutdownWindowingSystem, never by a static destructor: at exit Qt's own globals are gone
// before the module's statics, and an application object deleted then crashes the process.
// One that no host ever shut down is left to the end of the process. A host's own
// application object is never touched.
QApplication*& Owned() {
    static QApplication* owned = nullptr;
    return owned;
}

bool EnvironmentHasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

bool IsHeadlessPlatformName(const QString& name) {
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

}  // namespace

bool EnsureWindowingSystem() {
    if (QCoreApplication::instance() != nullptr) {
        return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    }
    if (!EnvironmentHasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "KAVEL";
    static char* argv[] = {name, nullptr};
    Owned() = new QApplication(argc, argv);
    return true;
}

void ShutdownWindowingSystem() {
    QApplication* application = Owned();
    if (application == nullptr) return;
    // Windows that asked to be deleted later go now, while the application still exists.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Owned() = nullptr;
    delete application;
}

bool IsHeadless() {
    if (QGuiApplication::instance() != nullptr) {
        return IsHeadlessPlatformName(QGuiApplication::platformName());
    }
    const QString requested = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (!requested.isEmpty()) return IsHeadlessPlatformName(requested.section(':', 0, 0));
    return !EnvironmentHasDisplay();
}

}  // namespace platform
