// Numbers of the module's resources and of the viewer dialog's controls.
#pragma once

#include <cstdint>

// String table.
constexpr uint16_t IDS_ABOUT_TEXT = 1;
constexpr uint16_t IDS_ABOUT_CAPTION = 2;
constexpr uint16_t IDS_FORMAT_NAME = 16001;
constexpr uint16_t IDS_INTEGER_RANGE = 16990;
constexpr uint16_t IDS_DECIMAL_RANGE = 16991;
constexpr uint16_t IDS_NEEDS_HOST_VERSION = 16992;
constexpr uint16_t IDS_INCOMPATIBLE_HOST = 16993;

// Property list.
constexpr uint16_t IDR_PROPERTY_LIST = 16000;

// Cursors.
constexpr uint16_t IDC_CURSOR_OVER_OUTPUT = 130;  // arrow with a small dashed box
constexpr uint16_t IDC_CURSOR_OVER_RED = 131;     // open hand
constexpr uint16_t IDC_CURSOR_DRAG_OUTPUT = 132;  // arrow
constexpr uint16_t IDC_CURSOR_DRAG_RED = 133;     // closed hand

// The viewer dialog and its controls.
constexpr uint16_t IDD_VIEWER = 1026;
constexpr int32_t IDC_CROP_WIDTH = 1001;
constexpr int32_t IDC_CROP_HEIGHT = 1002;
constexpr int32_t IDC_RATIO_LIST = 1003;
constexpr int32_t IDC_RESOLUTION = 1004;
constexpr int32_t IDC_APPLY = 1006;
constexpr int32_t IDC_MAX = 1007;
constexpr int32_t IDC_CENTRE_X = 1008;
constexpr int32_t IDC_CENTRE_Y = 1009;
constexpr int32_t IDC_STATUS = 1014;
constexpr int32_t IDC_FULL_VIEW_GROUP = 1015;
constexpr int32_t IDC_OUTPUT_GROUP = 1016;
constexpr int32_t IDC_FULL_VIEW_PANE = 1024;
constexpr int32_t IDC_PREVIEW_PANE = 1025;
// Ratio menu of the preview pane: 1:1 is 1030, 1:2 is 1031, ... up to 1:1024 at 1040.
constexpr int32_t IDM_RATIO_FIRST = 1030;
constexpr int32_t IDM_RATIO_LAST = 1040;
