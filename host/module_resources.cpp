#include "host/module_resources.h"

#include "host/resource_ids.h"
#include "platform/dialog_template.h"

using namespace platform;

namespace {

constexpr uint16_t kEnglishUnitedStates = 0x0409;

constexpr StringResource kStrings[] = {
    {IDS_ABOUT_TEXT, "Brindle Kavel Plugin v1.0"},
    {IDS_ABOUT_CAPTION, "Kavel file reader, (c) 1998 Brindle Imaging"},
    {IDS_FORMAT_NAME, "Kavel"},
    {IDS_INTEGER_RANGE, "An integer is required between ^1 and ^2."},
    {IDS_DECIMAL_RANGE, "A decimal number is required between ^1 and ^2."},
    {IDS_NEEDS_HOST_VERSION,
     "This plug-in requires Adobe Photoshop\xC2\xAE ^1 or later functionality."},
    {IDS_INCOMPATIBLE_HOST, "This plug-in is incompatible with this version of the host program."},
};

constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kEdit = kChild | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
constexpr uint32_t kLabel = kChild | SS_LEFT;
constexpr uint32_t kCentredLabel = kChild | SS_CENTER;
constexpr uint32_t kButton = kChild | BS_PUSHBUTTON | WS_TABSTOP;
constexpr uint32_t kGroup = kChild | BS_GROUPBOX;
constexpr uint32_t kPane = kChild | SS_GRAYFRAME;

// Rectangles are x, y, width, height in dialog units.
constexpr ControlTemplate kViewerControls[] = {
    {IDC_STATIC, ControlClass::Static, "&Ratio:", 109, 17, 21, 8, kLabel, 0},
    {IDC_RATIO_LIST, ControlClass::ComboBox, "", 130, 15, 134, 73,
     kChild | CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, 0},
    {IDC_STATIC, ControlClass::Static, "&Crop Size:", 110, 63, 33, 8, kLabel, 0},
    {IDC_CROP_WIDTH, ControlClass::Edit, "", 144, 61, 29, 12, kEdit, 0},
    {IDC_CROP_HEIGHT, ControlClass::Edit, "", 183, 61, 29, 12, kEdit, 0},
    {IDC_MAX, ControlClass::Button, "&Max", 222, 59, 36, 14, kButton, 0},
    {IDC_STATIC, ControlClass::Static, "&Resolution:", 109, 86, 36, 8, kLabel, 0},
    {IDC_RESOLUTION, ControlClass::Edit, "", 150, 84, 29, 12, kEdit, 0},
    {IDC_APPLY, ControlClass::Button, "&Apply", 222, 83, 36, 14, kButton, 0},
    {1, ControlClass::Button, "OK", 217, 319, 50, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
    {2, ControlClass::Button, "Cancel", 166, 319, 50, 14, kButton, 0},
    {IDC_PREVIEW_PANE, ControlClass::Static, "", 6, 115, 263, 202, kPane, WS_EX_STATICEDGE},
    {IDC_FULL_VIEW_PANE, ControlClass::Static, "", 9, 11, 90, 90, kPane, WS_EX_STATICEDGE},
    {IDC_STATIC, ControlClass::Static, "Red Box Preview", 7, 107, 56, 8, kLabel, 0},
    {IDC_STATIC, ControlClass::Button, "Zoom Level", 106, 1, 162, 39, kGroup, 0},
    {IDC_OUTPUT_GROUP, ControlClass::Button, "Output Image  ", 105, 44, 163, 61, kGroup, 0},
    // Transparent, so that finding the control under the pointer passes through it to the
    // full-view pane it encloses.
    {IDC_FULL_VIEW_GROUP, ControlClass::Button, "Kavel Image - Full View", 6, 1, 96, 104, kGroup,
     WS_EX_TRANSPARENT},
    {IDC_STATIC, ControlClass::Static, "h", 174, 63, 5, 8, kCentredLabel, 0},
    {IDC_STATIC, ControlClass::Static, "v", 213, 63, 5, 8, kCentredLabel, 0},
    {IDC_STATIC, ControlClass::Static, "pixels/inch", 180, 86, 35, 8, kLabel, 0},
    // Beyond the client area and never used.
    {IDC_CENTRE_X, ControlClass::Edit, "", 321, 30, 29, 12, kEdit, 0},
    {IDC_CENTRE_Y, ControlClass::Edit, "", 361, 30, 29, 12, kEdit, 0},
    {IDC_STATIC, ControlClass::Static, "Crop Center:", 280, 31, 40, 8, kLabel, 0},
    {IDC_STATIC, ControlClass::Static, "h", 350, 31, 5, 8, kCentredLabel, 0},
    {IDC_STATIC, ControlClass::Static, "v", 391, 31, 5, 8, kCentredLabel, 0},
    // Status line: the pointer's position.
    {IDC_STATUS, ControlClass::Static, "", 8, 321, 146, 8, kLabel, 0},
};

constexpr DialogTemplate kDialogs[] = {
    {IDD_VIEWER, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT, 0, 0, 0, 272, 334,
     "Kavel Viewer  v1.0", "MS Sans Serif", 8, kViewerControls},
};

// Cursor pictures: '.' transparent, '#' black, 'o' white.
constexpr CursorResource kCursors[] = {
    // 130: arrow pointing up and left with a small dashed box next to it; hot spot (1, 1).
    {130,
     1,
     1,
     {
         "................................", ".#..............................",
         ".##.............................", ".#o#............................",
         ".#oo#...........................", ".#ooo#..........................",
         ".#oooo#.........................", ".#ooooo#........................",
         ".#oooooo#.......................", ".#ooooooo#......................",
         ".#oooooooo#.....................", ".#ooooo#####....................",
         ".#oo#oo#........................", ".#o#.#oo#.......................",
         ".##..#oo#.......................", ".#....#oo#......................",
         ".......#oo#.....................", ".......#oo#.....................",
         "........##......................", "................................",
         ".............#.#.#.#.##.........", "................................",
         ".............#........#.........", "................................",
         ".............#........#.........", "................................",
         ".............#.#.#.#.##.........", "................................",
         "................................", "................................",
         "................................", "................................",
     }},
    // 131: open hand; hot spot (16, 16).
    {131,
     16,
     16,
     {
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
         "...............##...............", "...........##.#oo###............",
         "..........#oo##oo#oo#...........", "..........#oo##oo#oo#.#.........",
         "...........#oo#oo#oo##o#........", "...........#oo#oo#oo#oo#........",
         ".........##.#oooooooooo#........", "........#oo##ooooooooo#.........",
         "........#ooo#ooooooooo#.........", ".........#ooooooooooooo#........",
         "..........#oooooooooooo#........", "..........#ooooooooooo#.........",
         "...........#oooooooooo#.........", "...........#ooooooooo#..........",
         "............#oooooooo#..........", "............#oooooooo#..........",
         "............##########..........", "................................",
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
     }},
    // 132: arrow pointing up and left; hot spot (1, 1).
    {132,
     1,
     1,
     {
         "................................", ".o..............................",
         ".oo.............................", ".o#o............................",
         ".o##o...........................", ".o###o..........................",
         ".o####o.........................", ".o#####o........................",
         ".o######o.......................", ".o#######o......................",
         ".o########o.....................", ".o#####ooooo....................",
         ".o##o##o........................", ".o#o.o##o.......................",
         ".oo..o##o.......................", ".o....o##o......................",
         ".......o##o.....................", ".......o##o.....................",
         "........oo......................", "................................",
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
     }},
    // 133: closed hand; hot spot (16, 16).
    {133,
     16,
     16,
     {
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
         "............##.##.##............", "...........#oo#oo#oo##..........",
         "...........#ooooooooo#o#........", "............#oooooooooo#........",
         "...........##ooooooooooo#.......", "..........#ooooooooooooo#.......",
         "..........#oooooooooooo#........", "...........#ooooooooooo#........",
         "...........#oooooooooo#.........", "............#ooooooooo#.........",
         "............#oooooooo#..........", "............#oooooooo#..........",
         "............##########..........", "................................",
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
         "................................", "................................",
     }},

};

constexpr VersionResource kVersion = {
    {1, 0, 0, 1},
    {1, 0, 0, 1},
    0x3F,
    0,
    0x4,  // 32-bit Windows
    0x2,  // dynamic-link library
    0,
    kEnglishUnitedStates,
    0x04B0,  // Unicode
    "",
    "KAVEL DLL",
    "1, 0, 0, 1",
    "KAVEL",
    "Copyright (C) 1998 Brindle Imaging",
    "",
    "KAVEL.DLL",
    "KAVEL Dynamic Link Library",
    "1, 0, 0, 1",
};

constexpr ResourceTable kResources = {kEnglishUnitedStates, kStrings, kDialogs, kCursors,
                                      &kVersion};

}  // namespace

const ResourceTable& ModuleResources() { return kResources; }
