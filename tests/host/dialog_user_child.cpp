// A host process that plays the user: it loads the module, opens FILE through it, and while the
// viewer dialog runs it focuses the crop width, types into it, moves the pointer in and out of
// both panes, then ends the dialog one way. Then it finishes the read, unloads the module and
// returns. The module starts (and must end) the windowing system itself: this process creates
// no application object of its own.
//
// Usage: dialog_user_child MODULE FILE ENDING   (ENDING: ok, enter, cancel, escape, close)
// Prints "delivered W x H" after a read that delivered a document.
#include <dlfcn.h>

#include <QApplication>
#include <QEnterEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest/QTest>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/plugin_host/host_session.h"

namespace {

std::string gEnding;

QPushButton* Button(QWidget* dialog, const QString& text) {
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text() == text) return button;
    }
    return nullptr;
}

// The panes are the plain widgets among the dialog's children.
QList<QWidget*> Panes(QWidget* dialog) {
    QList<QWidget*> panes;
    for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (std::string(child->metaObject()->className()) == "QWidget") panes.push_back(child);
    }
    return panes;
}

void Enter(QWidget* widget, QPoint local) {
    QEnterEvent event(local, widget->mapTo(widget->window(), local), widget->mapToGlobal(local));
    QCoreApplication::sendEvent(widget, &event);
}

void Leave(QWidget* widget) {
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

void WorkTheDialog() {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr) {
        QTimer::singleShot(20, WorkTheDialog);
        return;
    }
    QWindow* window = dialog->windowHandle();
    const QList<QLineEdit*> edits = dialog->findChildren<QLineEdit*>();
    QLineEdit* width = edits.isEmpty() ? nullptr : edits.front();
    if (width != nullptr) {
        width->setFocus();
        width->selectAll();
        QTest::keyClicks(width, "64");
    }
    // Straight from the field onto each pane and around it.
    for (QWidget* pane : Panes(dialog)) {
        const QPoint centre = pane->geometry().center();
        Enter(dialog, centre);
        Enter(pane, pane->rect().center());
        QTest::mouseMove(window, centre);
        QTest::mouseMove(window, centre + QPoint(3, 2));
        QTest::mouseMove(window, pane->geometry().topLeft() - QPoint(2, 2));
        Leave(pane);
        QTest::mouseMove(window, centre);
    }
    QTest::mouseMove(window, QPoint(-5, -5));
    Leave(dialog);
    if (gEnding == "ok") {
        QTest::mouseClick(Button(dialog, "OK"), Qt::LeftButton);
    } else if (gEnding == "enter") {
        if (width != nullptr) QTest::keyClick(width, Qt::Key_Return);
    } else if (gEnding == "cancel") {
        QTest::mouseClick(Button(dialog, "Cancel"), Qt::LeftButton);
    } else if (gEnding == "escape") {
        QTest::keyClick(dialog, Qt::Key_Escape);
    } else {
        dialog->close();
    }
}

// Runs whenever an application object is constructed: the module's, inside prepare.
void OnApplicationStart() { QTimer::singleShot(0, WorkTheDialog); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: dialog_user_child MODULE FILE ENDING\n");
        return 2;
    }
    gEnding = argv[3];
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("KAVEL_DIALOG_ANSWER", "driven", 1);
    qAddPreRoutine(OnApplicationStart);

    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 3;
    }
    auto entry = reinterpret_cast<PluginEntryProc>(dlsym(module, "ENTRYPOINT"));
    if (entry == nullptr) return 3;
    HostDocument document;
    const ReadOutcome outcome = RunRead(entry, argv[2], HostFaults{}, false, &document);
    if (outcome.result == 0) std::printf("delivered %d x %d\n", document.columns, document.rows);
    std::fflush(stdout);
    dlclose(module);
    return 0;
}
