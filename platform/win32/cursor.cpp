#include "platform/cursor.h"

#include "platform/win32/windows_api.h"

#include <vector>

#include "platform/module_instance.h"

namespace platform {

struct NativeCursor {
    HCURSOR handle = nullptr;
    bool system = false;
};

namespace {

CursorHandle& CurrentCursor() {
    static CursorHandle current = nullptr;
    return current;
}

struct WaitState {
    int depth = 0;
    HCURSOR previous = nullptr;
};

WaitState& Wait() {
    static WaitState state;
    return state;
}

// The 32 rows of a monochrome mask bitmap, most significant bit leftmost.
bool MaskRows(HBITMAP bitmap, int firstRow, uint32_t rows[32]) {
    BITMAP info{};
    if (GetObjectA(bitmap, sizeof info, &info) == 0 || info.bmWidth != 32 ||
        info.bmBitsPixel != 1 || info.bmHeight < firstRow + 32) {
        return false;
    }
    std::vector<uint8_t> bits(size_t(info.bmWidthBytes) * size_t(info.bmHeight));
    if (GetBitmapBits(bitmap, static_cast<LONG>(bits.size()), bits.data()) == 0) return false;
    for (int y = 0; y < 32; ++y) {
        const uint8_t* row = bits.data() + size_t(firstRow + y) * size_t(info.bmWidthBytes);
        rows[y] = uint32_t(row[0]) << 24 | uint32_t(row[1]) << 16 | uint32_t(row[2]) << 8 | row[3];
    }
    return true;
}

}  // namespace

CursorHandle LoadCursorResource(const ModuleInstance* instance, uint16_t id) {
    if (instance == nullptr || instance->handle == nullptr) return nullptr;
    HCURSOR handle = LoadCursorA(static_cast<HINSTANCE>(instance->handle), MAKEINTRESOURCEA(id));
    if (handle == nullptr) return nullptr;
    return new NativeCursor{handle, false};
}

CursorHandle LoadSystemCursor(SystemCursor which) {
    static NativeCursor arrow{LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)), true};  // IDC_ARROW
    static NativeCursor cross{LoadCursorA(nullptr, MAKEINTRESOURCEA(32515)), true};  // IDC_CROSS
    static NativeCursor ibeam{LoadCursorA(nullptr, MAKEINTRESOURCEA(32513)), true};  // IDC_IBEAM
    static NativeCursor wait{LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)), true};   // IDC_WAIT
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
    // Cursors loaded from a module are shared by the system, which keeps them until the
    // module goes away.
    delete cursor;
}

bool GetCursorBits(CursorHandle cursor, CursorBits* bits) {
    if (cursor == nullptr || cursor->system || bits == nullptr) return false;
    ICONINFO info{};
    if (!GetIconInfo(cursor->handle, &info)) return false;
    // A monochrome cursor keeps both masks in one bitmap twice its height: AND above XOR.
    bool ok = info.hbmColor == nullptr && MaskRows(info.hbmMask, 0, bits->andMask) &&
              MaskRows(info.hbmMask, 32, bits->xorMask);
    bits->hotSpotX = static_cast<int32_t>(info.xHotspot);
    bits->hotSpotY = static_cast<int32_t>(info.yHotspot);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    return ok;
}

CursorHandle SetCursor(CursorHandle cursor) {
    const CursorHandle previous = CurrentCursor();
    CurrentCursor() = cursor;
    ::SetCursor(cursor != nullptr ? cursor->handle : LoadSystemCursor(SystemCursor::Arrow)->handle);
    return previous;
}

CursorHandle GetCursor() { return CurrentCursor(); }

void BeginWaitCursor() {
    WaitState& state = Wait();
    if (state.depth++ == 0) state.previous = ::SetCursor(LoadSystemCursor(SystemCursor::Wait)->handle);
}

void EndWaitCursor() {
    WaitState& state = Wait();
    if (state.depth == 0) return;
    if (--state.depth == 0) ::SetCursor(state.previous);
}

}  // namespace platform
