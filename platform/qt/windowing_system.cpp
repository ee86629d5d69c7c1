// Starting Qt inside a host that may not be a Qt program.
#include <QApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <memory>

#include "platform/module_instance.h"

namespace platform {
namespace {

// The application object the module created, deleted when the module goes away. A host's
// own application object is never touched.
struct OwnedApplication {
    std::unique_ptr<QApplication> application;
    ~OwnedApplication() { application.reset(); }
};

OwnedApplication& Owned() {
    static OwnedApplication owned;
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
    Owned().application = std::make_unique<QApplication>(argc, argv);
    return true;
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
