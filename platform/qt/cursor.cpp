#include "platform/cursor.h"

#include <QApplication>
#include <QBitmap>
#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <array>
#include <cstring>
#include <optional>

#include "platform/cursor_masks.h"
#include "platform/module_instance.h"
#include "platform/resources.h"

namespace platform {

// A system cursor holds only its shape: the cursor objects live in the application object,
// and a cursor kept in a static would outlive it.
struct NativeCursor {
    std::optional<QCursor> cursor;
    Qt::CursorShape shape = Qt::ArrowCursor;
    bool system = false;
    CursorBits bits;

    QCursor ToQCursor() const { return cursor ? *cursor : QCursor(shape); }
};

namespace {

CursorHandle& CurrentCursor() {
    static CursorHandle current = nullptr;
    return current;
}

}  // namespace

// The widget that is choosing its pointer at the moment (set by the dialog backend).
QPointer<QWidget>& CursorTarget() {
    static QPointer<QWidget> target;
    return target;
}

CursorHandle LoadCursorResource(const ModuleInstance* instance, uint16_t id) {
    const CursorResource* resource = FindCursorResource(instance, id);
    if (resource == nullptr || !EnsureWindowingSystem()) return nullptr;
    auto* cursor = new NativeCursor();
    if (!CursorMasksFromRows(*resource, &cursor->bits)) {
        delete cursor;
        return nullptr;
    }
    // Qt takes a bitmap (1 = black) and a mask (1 = drawn): black is AND 0 XOR 0, white is
    // AND 0 XOR 1, transparent is AND 1 XOR 0 and inverting is AND 1 XOR 1.
    std::array<uint8_t, 128> picture{};
    std::array<uint8_t, 128> mask{};
    for (int y = 0; y < 32; ++y) {
        const uint32_t andBits = cursor->bits.andMask[y];
        const uint32_t xorBits = cursor->bits.xorMask[y];
        const uint32_t black = (~andBits & ~xorBits) | (andBits & xorBits);
        const uint32_t drawn = ~andBits;
        for (int byte = 0; byte < 4; ++byte) {
            const int shift = 24 - 8 * byte;
            picture[size_t(y * 4 + byte)] = static_cast<uint8_t>(black >> shift);
            mask[size_t(y * 4 + byte)] = static_cast<uint8_t>(drawn >> shift);
        }
    }
    const QBitmap pictureBitmap =
        QBitmap::fromData(QSize(32, 32), picture.data(), QImage::Format_Mono);
    const QBitmap maskBitmap = QBitmap::fromData(QSize(32, 32), mask.data(), QImage::Format_Mono);
    cursor->cursor = QCursor(pictureBitmap, maskBitmap, resource->hotSpotX, resource->hotSpotY);
    return cursor;
}

CursorHandle LoadSystemCursor(SystemCursor which) {
    static NativeCursor arrow{std::nullopt, Qt::ArrowCursor, true, {}};
    static NativeCursor cross{std::nullopt, Qt::CrossCursor, true, {}};
    static NativeCursor ibeam{std::nullopt, Qt::IBeamCursor, true, {}};
    static NativeCursor wait{std::nullopt, Qt::WaitCursor, true, {}};
    switch (which) {
        case SystemCursor::Arrow:
            return &arrow;
        case SystemCursor::Cross:
            return &cross;
        case SystemCursor::IBeam:
            return &ibeam;
        case SystemCursor::Wait:
            return &wait;
    }
    return &arrow;
}

void DestroyCursor(CursorHandle cursor) {
    if (cursor == nullptr || cursor->system) return;
    if (CurrentCursor() == cursor) CurrentCursor() = nullptr;
    delete cursor;
}

bool GetCursorBits(CursorHandle cursor, CursorBits* bits) {
    if (cursor == nullptr || cursor->system || bits == nullptr) return false;
    *bits = cursor->bits;
    return true;
}

CursorHandle SetCursor(CursorHandle cursor) {
    const CursorHandle previous = CurrentCursor();
    CurrentCursor() = cursor;
    QWidget* target = CursorTarget();
    if (target == nullptr) target = QApplication::activeModalWidget();
    if (target != nullptr) {
        if (cursor != nullptr) {
            target->setCursor(cursor->ToQCursor());
        } else {
            target->unsetCursor();
        }
    }
    return previous;
}

CursorHandle GetCursor() { return CurrentCursor(); }

void BeginWaitCursor() {
    if (EnsureWindowingSystem()) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void EndWaitCursor() {
    if (QGuiApplication::instance() != nullptr && QGuiApplication::overrideCursor() != nullptr) {
        QGuiApplication::restoreOverrideCursor();
    }
}

}  // namespace platform
