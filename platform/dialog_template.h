// Dialog templates: a dialog and its controls described in dialog units, with the window
// styles that decide each control's kind. The numeric style values are the ones the
// templates were written with, so a template reads here as it did in the resource script.
#pragma once

#include <cstdint>
#include <span>

namespace platform {

// Window styles.
constexpr uint32_t WS_POPUP = 0x80000000u;
constexpr uint32_t WS_CHILD = 0x40000000u;
constexpr uint32_t WS_VISIBLE = 0x10000000u;
constexpr uint32_t WS_CAPTION = 0x00C00000u;
constexpr uint32_t WS_BORDER = 0x00800000u;
constexpr uint32_t WS_VSCROLL = 0x00200000u;
constexpr uint32_t WS_SYSMENU = 0x00080000u;
constexpr uint32_t WS_GROUP = 0x00020000u;
constexpr uint32_t WS_TABSTOP = 0x00010000u;
// Dialog styles.
constexpr uint32_t DS_SETFONT = 0x40u;
constexpr uint32_t DS_MODALFRAME = 0x80u;
// Extended styles.
constexpr uint32_t WS_EX_TOPMOST = 0x8u;
constexpr uint32_t WS_EX_TRANSPARENT = 0x20u;
constexpr uint32_t WS_EX_STATICEDGE = 0x20000u;
// Static control styles.
constexpr uint32_t SS_LEFT = 0x0u;
constexpr uint32_t SS_CENTER = 0x1u;
constexpr uint32_t SS_GRAYFRAME = 0x8u;
// Button styles.
constexpr uint32_t BS_PUSHBUTTON = 0x0u;
constexpr uint32_t BS_DEFPUSHBUTTON = 0x1u;
constexpr uint32_t BS_GROUPBOX = 0x7u;
// Edit styles.
constexpr uint32_t ES_AUTOHSCROLL = 0x80u;
// Combo box styles.
constexpr uint32_t CBS_DROPDOWN = 0x2u;

// The id static labels carry: no operation refers to them.
constexpr int32_t IDC_STATIC = -1;

enum class ControlClass { Button, Edit, Static, ComboBox };

struct ControlTemplate {
    int32_t id;
    ControlClass controlClass;
    const char* text;
    int16_t x, y, cx, cy;  // dialog units
    uint32_t style;
    uint32_t exStyle;
};

struct DialogTemplate {
    uint16_t id;
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, cx, cy;  // dialog units
    const char* caption;
    const char* fontName;
    int16_t pointSize;
    std::span<const ControlTemplate> controls;
};

// Dialog units to pixels as the template's font (8-point MS Sans Serif at 96 dots per inch)
// gives them: 6 x 13 pixels per 4 x 8 units, rounded down, whatever font draws the text.
constexpr int32_t DialogUnitsToPixelsX(int32_t units) { return units * 6 / 4; }
constexpr int32_t DialogUnitsToPixelsY(int32_t units) { return units * 13 / 8; }

}  // namespace platform
