#include "platform/drawing_context.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/dib_section.h"
#include "platform/win32/native_window.h"

namespace platform {
namespace {

COLORREF ColourRef(Colour colour) { return RGB(colour.red, colour.green, colour.blue); }

HDC Dc(void* dc) { return static_cast<HDC>(dc); }

}  // namespace

DrawingContext::DrawingContext(NativeWindow* window) : window_(window) {
    if (window_ != nullptr && window_->hwnd != nullptr) system_.dc = ::GetDC(window_->hwnd);
    if (system_.dc == nullptr) window_ = nullptr;
}

DrawingContext::~DrawingContext() { Release(); }

DrawingContext::DrawingContext(DrawingContext&& other) noexcept { *this = std::move(other); }

DrawingContext& DrawingContext::operator=(DrawingContext&& other) noexcept {
    if (this != &other) {
        Release();
        window_ = std::exchange(other.window_, nullptr);
        system_ = std::exchange(other.system_, SystemContext{});
        op_ = other.op_;
        pen_ = other.pen_;
        position_ = other.position_;
        drew_ = std::exchange(other.drew_, false);
    }
    return *this;
}

bool DrawingContext::IsValid() const { return system_.dc != nullptr; }

void DrawingContext::Release() {
    if (system_.dc != nullptr) {
        if (system_.pen != nullptr) {
            SelectObject(Dc(system_.dc), static_cast<HGDIOBJ>(system_.previousPen));
            DeleteObject(static_cast<HGDIOBJ>(system_.pen));
        }
        ::ReleaseDC(window_ != nullptr ? window_->hwnd : nullptr, Dc(system_.dc));
    }
    system_ = SystemContext{};
    window_ = nullptr;
    drew_ = false;
}

RasterOp DrawingContext::SetRop2(RasterOp op) {
    if (system_.dc != nullptr) SetROP2(Dc(system_.dc), op == RasterOp::XorPen ? R2_XORPEN : R2_COPYPEN);
    return std::exchange(op_, op);
}

Colour DrawingContext::SelectPen(Colour colour) {
    if (system_.dc != nullptr) {
        HPEN pen = CreatePen(PS_SOLID, 1, ColourRef(colour));
        HGDIOBJ previous = SelectObject(Dc(system_.dc), pen);
        if (system_.pen != nullptr) {
            DeleteObject(static_cast<HGDIOBJ>(system_.pen));
        } else {
            system_.previousPen = previous;
        }
        system_.pen = pen;
    }
    return std::exchange(pen_, colour);
}

void DrawingContext::MoveTo(int32_t x, int32_t y) {
    if (system_.dc != nullptr) MoveToEx(Dc(system_.dc), x, y, nullptr);
    position_ = Point{x, y};
}

void DrawingContext::LineTo(int32_t x, int32_t y) {
    if (system_.dc != nullptr) ::LineTo(Dc(system_.dc), x, y);
    position_ = Point{x, y};
    drew_ = true;
}

void DrawingContext::Plot(int32_t x, int32_t y) {
    if (system_.dc != nullptr) SetPixel(Dc(system_.dc), x, y, ColourRef(pen_));
}

void DrawingContext::DrawText(const Rect& rect, const std::string& text) {
    if (system_.dc == nullptr) return;
    HDC dc = Dc(system_.dc);
    // In the dialog's font, centred and wrapped within the rectangle, over what is there.
    HGDIOBJ font = window_ != nullptr && window_->hwnd != nullptr
                       ? reinterpret_cast<HGDIOBJ>(SendMessageA(window_->hwnd, WM_GETFONT, 0, 0))
                       : nullptr;
    HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ColourRef(pen_));
    RECT measured{rect.left, rect.top, rect.right, rect.bottom};
    ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &measured,
                DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
    const int32_t height = measured.bottom - measured.top;
    const int32_t top = rect.top + std::max<int32_t>(0, (rect.bottom - rect.top - height) / 2);
    RECT area{rect.left, top, rect.right, rect.bottom};
    ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &area, DT_CENTER | DT_WORDBREAK);
    if (previous != nullptr) SelectObject(dc, previous);
    drew_ = true;
}

void DrawingContext::FillSolidRect(const Rect& rect, Colour colour) {
    if (system_.dc == nullptr) return;
    HBRUSH brush = CreateSolidBrush(ColourRef(colour));
    const RECT area{rect.left, rect.top, rect.right, rect.bottom};
    FillRect(Dc(system_.dc), &area, brush);
    DeleteObject(brush);
    drew_ = true;
}

void DrawingContext::BitBlt(int32_t x, int32_t y, const DibSection& bitmap) {
    if (system_.dc == nullptr) return;
    // A device-independent bitmap section of the same layout, selected into a memory context
    // and copied to the window unscaled.
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = bitmap.Width();
    info.header.biHeight = bitmap.Height();
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(bitmap.BitsPerPixel());
    info.header.biCompression = BI_RGB;
    if (bitmap.BitsPerPixel() == 8) {
        for (int i = 0; i < 256; ++i) {
            const RgbQuad& entry = bitmap.ColourTable()[i];
            info.colours[i] = RGBQUAD{entry.blue, entry.green, entry.red, 0};
        }
    }
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(Dc(system_.dc), reinterpret_cast<BITMAPINFO*>(&info),
                                       DIB_RGB_COLORS, &bits, nullptr, 0);
    if (section == nullptr || bits == nullptr) return;
    std::memcpy(bits, bitmap.Bits(), size_t(bitmap.Stride()) * size_t(bitmap.Height()));
    HDC memory = CreateCompatibleDC(Dc(system_.dc));
    HGDIOBJ previous = SelectObject(memory, section);
    ::BitBlt(Dc(system_.dc), x, y, bitmap.Width(), bitmap.Height(), memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(section);
    drew_ = true;
}

Colour DrawingContext::GetPixel(int32_t x, int32_t y) const {
    if (system_.dc == nullptr) return {};
    const COLORREF value = ::GetPixel(Dc(system_.dc), x, y);
    if (value == CLR_INVALID) return {};
    return Colour{GetRValue(value), GetGValue(value), GetBValue(value)};
}

Colour ButtonFaceColour() {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    return Colour{GetRValue(face), GetGValue(face), GetBValue(face)};
}

}  // namespace platform
