#include "platform/dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "platform/dialog_automation.h"
#include "platform/dialog_template.h"
#include "platform/message_box.h"
#include "platform/module_instance.h"
#include "platform/qt/native_window.h"

namespace platform {

std::function<void(Dialog&)>& ModalHookSlot();
int& ModalRunCounter();

namespace {

class ControlWindow : public Window {
  public:
    explicit ControlWindow(NativeWindow* native) : Window(native) {}
};

QRect PixelRect(const ControlTemplate& control) {
    return QRect(DialogUnitsToPixelsX(control.x), DialogUnitsToPixelsY(control.y),
                 DialogUnitsToPixelsX(control.cx), DialogUnitsToPixelsY(control.cy));
}

QFont TemplateFont(QFont font, int pointSize) {
    font.setPointSize(pointSize);
    return font;
}

// The template's places were measured for a narrower font than most systems draw with: a
// label that would be cut off is drawn condensed, then smaller, until it fits.
void FitLabelText(QLabel* label) {
    QString text = label->text();
    text.remove('&');
    QFont font = label->font();
    const int room = label->width();
    for (int step = 0; step < 6 && QFontMetrics(font).horizontalAdvance(text) > room; ++step) {
        if (step == 0) {
            font.setStretch(QFont::Condensed);
        } else {
            font.setPointSizeF(font.pointSizeF() * 0.92);
        }
    }
    label->setFont(font);
}

// The Qt widget that plays the part of one template control.
QWidget* MakeControl(const ControlTemplate& control, QWidget* parent, Dialog* owner) {
    const QString text = QString::fromLocal8Bit(control.text != nullptr ? control.text : "");
    const int32_t id = control.id;
    const uint32_t type = control.style & 0xFu;
    QWidget* widget = nullptr;
    switch (control.controlClass) {
        case ControlClass::Button: {
            if (type == BS_GROUPBOX) {
                widget = new QGroupBox(text, parent);
                widget->setAttribute(Qt::WA_TransparentForMouseEvents);
                break;
            }
            auto* button = new QPushButton(text, parent);
            button->setAutoDefault(false);
            button->setDefault(type == BS_DEFPUSHBUTTON);
            QObject::connect(button, &QPushButton::clicked, button,
                             [owner, id]() { owner->SendCommand(MAKEWPARAM(id, BN_CLICKED)); });
            widget = button;
            break;
        }
        case ControlClass::Edit: {
            auto* edit = new QLineEdit(text, parent);
            QObject::connect(edit, &QLineEdit::textEdited, edit,
                             [owner, id]() { owner->SendCommand(MAKEWPARAM(id, EN_CHANGE)); });
            widget = edit;
            break;
        }
        case ControlClass::ComboBox: {
            auto* combo = new QComboBox(parent);
            combo->setMaxVisibleItems(12);
            QObject::connect(combo, &QComboBox::activated, combo,
                             [owner, id]() { owner->SendCommand(MAKEWPARAM(id, CBN_SELCHANGE)); });
            widget = combo;
            break;
        }
        case ControlClass::Static: {
            if (type == SS_GRAYFRAME) {
                widget = new PaneWidget(parent);
            } else {
                auto* label = new QLabel(text, parent);
                label->setAlignment((type == SS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft) |
                                    Qt::AlignTop);
                widget = label;
            }
            // Static controls leave the mouse to the dialog.
            widget->setAttribute(Qt::WA_TransparentForMouseEvents);
            break;
        }
    }
    QRect rect = PixelRect(control);
    if (control.controlClass == ControlClass::ComboBox) {
        // The template's height is that of the dropped list; the closed box is one line.
        rect.setHeight(widget->sizeHint().height());
    }
    widget->setGeometry(rect);
    if (auto* label = qobject_cast<QLabel*>(widget)) FitLabelText(label);
    if (!(control.style & WS_TABSTOP)) widget->setFocusPolicy(Qt::NoFocus);
    if (!(control.style & WS_VISIBLE)) widget->hide();
    return widget;
}

}  // namespace

struct Dialog::Backend {
    QPointer<DialogWidget> widget;
    std::vector<std::unique_ptr<Window>> controls;  // template order
    bool modal = false;
};

Dialog::Dialog(uint16_t templateId, Window* parent)
    : Window(nullptr), templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() { Destroy(); }

bool Dialog::Build() {
    Destroy();
    const DialogTemplate* dialogTemplate = FindDialogTemplate(CurrentModuleInstance(), templateId_);
    if (dialogTemplate == nullptr || !EnsureWindowingSystem()) return false;
    backend_ = std::make_unique<Backend>();
    QWidget* parentWidget = WidgetOf(parent_);
    auto* widget = new DialogWidget(this, parentWidget);
    backend_->widget = widget;
    widget->setWindowTitle(QString::fromLocal8Bit(dialogTemplate->caption));
    widget->setFont(TemplateFont(widget->font(), dialogTemplate->pointSize));
    widget->setFixedSize(DialogUnitsToPixelsX(dialogTemplate->cx),
                         DialogUnitsToPixelsY(dialogTemplate->cy));
    Attach(new NativeWindow{widget, 0, dialogTemplate->style, dialogTemplate->exStyle});

    std::vector<QWidget*> widgets;
    for (const ControlTemplate& control : dialogTemplate->controls) {
        QWidget* child = MakeControl(control, widget, this);
        // A control that takes the mouse itself: the pointer going onto it leaves the
        // dialog's own area.
        if (!child->testAttribute(Qt::WA_TransparentForMouseEvents))
            child->installEventFilter(widget);
        widgets.push_back(child);
        backend_->controls.push_back(std::make_unique<ControlWindow>(
            new NativeWindow{child, control.id, control.style, control.exStyle}));
    }
    // A label with a mnemonic moves the focus to the next control that takes it.
    for (size_t i = 0; i < widgets.size(); ++i) {
        auto* label = qobject_cast<QLabel*>(widgets[i]);
        if (label == nullptr || !label->text().contains('&')) continue;
        for (size_t j = i + 1; j < widgets.size(); ++j) {
            if (widgets[j]->focusPolicy() != Qt::NoFocus) {
                label->setBuddy(widgets[j]);
                break;
            }
        }
    }
    endResult_ = 0;
    return true;
}

void Dialog::Destroy() {
    if (backend_ && backend_->widget) {
        backend_->widget->DetachOwner();
        backend_->widget->hide();
        delete backend_->widget.data();
    }
}

int Dialog::DoModal() {
    if (!Build()) return -1;
    ++ModalRunCounter();
    backend_->modal = true;
    DialogWidget* widget = backend_->widget;
    OnInitDialog();
    const DialogAnswer answer = CurrentDialogAnswer();
    const std::function<void(Dialog&)> hook = ModalHookSlot();
    const bool headless = IsHeadless();
    if (endResult_ == 0 && !hook && answer == DialogAnswer::User && headless) {
        std::fprintf(stderr, "No display to show the dialog \"%s\" on: cancelled.\n",
                     widget->windowTitle().toLocal8Bit().constData());
        endResult_ = IDCANCEL;
    }
    if (endResult_ == 0) {
        QTimer::singleShot(0, widget, [this, answer, hook, headless]() {
            if (hook) {
                hook(*this);
            } else if (answer == DialogAnswer::Accept) {
                SendCommand(MAKEWPARAM(IDOK, BN_CLICKED));
            } else if (answer == DialogAnswer::Cancel) {
                SendCommand(MAKEWPARAM(IDCANCEL, BN_CLICKED));
            }
            // Nobody could end a dialog that no one sees (unless it is driven).
            if (endResult_ == 0 && headless && answer != DialogAnswer::Driven) EndDialog(IDCANCEL);
        });
        widget->exec();
    }
    const int result = endResult_ != 0 ? endResult_ : IDCANCEL;
    Destroy();
    return result;
}

bool Dialog::Create() {
    if (!Build()) return false;
    backend_->modal = false;
    OnInitDialog();
    backend_->widget->show();
    return true;
}

void Dialog::EndDialog(int result) {
    endResult_ = result;
    if (!backend_ || !backend_->widget) return;
    if (backend_->modal) {
        backend_->widget->done(result);
    } else {
        backend_->widget->hide();
    }
}

Window* Dialog::GetDlgItem(int32_t id) {
    if (!backend_) return nullptr;
    for (const auto& control : backend_->controls) {
        if (control->GetDlgCtrlID() == id && control->IsValid()) return control.get();
    }
    return nullptr;
}

namespace {

QComboBox* ComboOf(Dialog* dialog, int32_t id) {
    return qobject_cast<QComboBox*>(WidgetOf(dialog->GetDlgItem(id)));
}

}  // namespace

int Dialog::ComboAddString(int32_t id, const std::string& text) {
    QComboBox* combo = ComboOf(this, id);
    if (combo == nullptr) return -1;
    const int current = combo->currentIndex();
    combo->addItem(QString::fromLocal8Bit(text.c_str()));
    // Adding to a list leaves its selection as it was (Qt selects the first entry added).
    if (current < 0) combo->setCurrentIndex(-1);
    return combo->count() - 1;
}

int Dialog::ComboSetCurSel(int32_t id, int index) {
    QComboBox* combo = ComboOf(this, id);
    if (combo == nullptr) return -1;
    if (index < 0 || index >= combo->count()) {
        combo->setCurrentIndex(-1);
        return -1;
    }
    combo->setCurrentIndex(index);
    return index;
}

int Dialog::ComboGetCurSel(int32_t id) {
    QComboBox* combo = ComboOf(this, id);
    return combo != nullptr ? combo->currentIndex() : -1;
}

int Dialog::ComboGetCount(int32_t id) {
    QComboBox* combo = ComboOf(this, id);
    return combo != nullptr ? combo->count() : 0;
}

std::string Dialog::ComboGetItemText(int32_t id, int index) {
    QComboBox* combo = ComboOf(this, id);
    if (combo == nullptr || index < 0 || index >= combo->count()) return {};
    return combo->itemText(index).toLocal8Bit().toStdString();
}

int32_t Dialog::ControlFromPoint(Point clientPoint, bool skipTransparent) {
    if (!backend_) return 0;
    // Controls earlier in the template lie above later ones.
    for (const auto& control : backend_->controls) {
        QWidget* widget = WidgetOf(control.get());
        if (widget == nullptr || !widget->isVisibleTo(backend_->widget)) continue;
        if (skipTransparent && (control->GetExStyle() & WS_EX_TRANSPARENT)) continue;
        if (widget->geometry().contains(clientPoint.x, clientPoint.y)) {
            return control->GetDlgCtrlID();
        }
    }
    return 0;
}

void Dialog::AddExStyle(uint32_t exStyle) {
    if (!backend_ || !backend_->widget || Native() == nullptr) return;
    Native()->exStyle |= exStyle;
    if (exStyle & WS_EX_TOPMOST) {
        const bool visible = backend_->widget->isVisible();
        backend_->widget->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        if (visible) backend_->widget->show();
    }
}

void Dialog::SetIcon(void* icon, bool big) { (big ? bigIcon_ : smallIcon_) = icon; }

}  // namespace platform
