// The module's own resources: string table, viewer dialog template, cursors, version block.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QWidget>

#include "host/module_load.h"
#include "host/module_resources.h"
#include "host/resource_ids.h"
#include "platform/cursor.h"
#include "platform/dialog.h"
#include "platform/dialog_template.h"
#include "platform/module_instance.h"
#include "platform/qt/native_window.h"

namespace {

using namespace platform;

class ModuleResourcesTest : public testing::Test {
protected:
    void SetUp() override { OnModuleAttach(reinterpret_cast<const void*>(&OnModuleAttach)); }
};

TEST_F(ModuleResourcesTest, StringTable) {
    char text[256];
    EXPECT_GT(LoadStringResource(CurrentModuleInstance(), IDS_ABOUT_TEXT, text, sizeof text), 0);
    EXPECT_STREQ(text, "Brindle Kavel Plugin v1.0");
    char caption[60];
    EXPECT_GT(LoadStringResource(CurrentModuleInstance(), IDS_ABOUT_CAPTION, caption, sizeof caption), 0);
    LoadStringResource(CurrentModuleInstance(), IDS_FORMAT_NAME, text, sizeof text);
    EXPECT_STREQ(text, "Kavel");
    LoadStringResource(CurrentModuleInstance(), IDS_INTEGER_RANGE, text, sizeof text);
    EXPECT_STREQ(text, "An integer is required between ^1 and ^2.");
    LoadStringResource(CurrentModuleInstance(), IDS_INCOMPATIBLE_HOST, text, sizeof text);
    EXPECT_STREQ(text, "This plug-in is incompatible with this version of the host program.");
}

TEST_F(ModuleResourcesTest, ViewerTemplateHasEveryControlInPlace) {
    const DialogTemplate* viewer = FindDialogTemplate(CurrentModuleInstance(), IDD_VIEWER);
    ASSERT_NE(viewer, nullptr);
    EXPECT_STREQ(viewer->caption, "Kavel Viewer  v1.0");
    EXPECT_EQ(viewer->cx, 272);
    EXPECT_EQ(viewer->cy, 334);
    EXPECT_EQ(viewer->style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
    ASSERT_EQ(viewer->controls.size(), 26u);
    auto find = [&](int32_t id) -> const ControlTemplate* {
        for (const ControlTemplate& control : viewer->controls) {
            if (control.id == id) return &control;
        }
        return nullptr;
    };
    const struct {
        int32_t id;
        int16_t x, y, cx, cy;
    } places[] = {
        {IDC_RATIO_LIST, 130, 15, 134, 73}, {IDC_CROP_WIDTH, 144, 61, 29, 12},
        {IDC_CROP_HEIGHT, 183, 61, 29, 12}, {IDC_MAX, 222, 59, 36, 14},
        {IDC_RESOLUTION, 150, 84, 29, 12},  {IDC_APPLY, 222, 83, 36, 14},
        {1, 217, 319, 50, 14},              {2, 166, 319, 50, 14},
        {IDC_PREVIEW_PANE, 6, 115, 263, 202}, {IDC_FULL_VIEW_PANE, 9, 11, 90, 90},
        {IDC_OUTPUT_GROUP, 105, 44, 163, 61}, {IDC_FULL_VIEW_GROUP, 6, 1, 96, 104},
        {IDC_CENTRE_X, 321, 30, 29, 12},    {IDC_CENTRE_Y, 361, 30, 29, 12},
        {IDC_STATUS, 8, 321, 146, 8},
    };
    for (const auto& place : places) {
        const ControlTemplate* control = find(place.id);
        ASSERT_NE(control, nullptr) << place.id;
        EXPECT_EQ(control->x, place.x) << place.id;
        EXPECT_EQ(control->y, place.y) << place.id;
        EXPECT_EQ(control->cx, place.cx) << place.id;
        EXPECT_EQ(control->cy, place.cy) << place.id;
    }
    EXPECT_STREQ(find(IDC_OUTPUT_GROUP)->text, "Output Image  ");
    EXPECT_EQ(find(IDC_FULL_VIEW_GROUP)->exStyle & WS_EX_TRANSPARENT, WS_EX_TRANSPARENT);
    EXPECT_EQ(find(1)->style & 0xFu, BS_DEFPUSHBUTTON);
    EXPECT_EQ(find(IDC_RATIO_LIST)->style & 0xFu, CBS_DROPDOWN);

    // Built on the screen: 408 x 542 pixels, the full view's client area 133 x 144.
    Dialog dialog(IDD_VIEWER, nullptr);
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(dialog.GetClientRect(), (Rect{0, 0, 408, 542}));
    EXPECT_EQ(dialog.GetDlgItem(IDC_FULL_VIEW_PANE)->GetClientRect(), (Rect{0, 0, 133, 144}));
    EXPECT_EQ(WidgetOf(dialog.GetDlgItem(IDC_PREVIEW_PANE))->geometry(), QRect(9, 186, 394, 328));
    EXPECT_EQ(dialog.ControlFromPoint({60, 60}, true), IDC_FULL_VIEW_PANE);
    dialog.EndDialog(2);
}

TEST_F(ModuleResourcesTest, CursorsAndVersionBlock) {
    const struct {
        uint16_t id;
        int32_t x, y;
    } hotSpots[] = {{130, 1, 1}, {131, 16, 16}, {132, 1, 1}, {133, 16, 16}};
    for (const auto& expected : hotSpots) {
        CursorHandle cursor = LoadCursorResource(CurrentModuleInstance(), expected.id);
        ASSERT_NE(cursor, nullptr) << expected.id;
        CursorBits bits;
        ASSERT_TRUE(GetCursorBits(cursor, &bits));
        EXPECT_EQ(bits.hotSpotX, expected.x) << expected.id;
        EXPECT_EQ(bits.hotSpotY, expected.y) << expected.id;
        // The hot spot lies on the drawn part of the picture.
        EXPECT_EQ(bits.andMask[expected.y] & (0x80000000u >> expected.x), 0u) << expected.id;
        DestroyCursor(cursor);
    }

    const VersionResource* version = FindVersionResource(CurrentModuleInstance());
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->fileVersion[3], 1);
    EXPECT_EQ(version->fileType, 0x2u);
    EXPECT_EQ(version->language, 0x0409);
    EXPECT_EQ(version->codePage, 0x04B0);
    EXPECT_STREQ(version->fileDescription, "KAVEL DLL");
    EXPECT_STREQ(version->originalFilename, "KAVEL.DLL");
    EXPECT_STREQ(version->productName, "KAVEL Dynamic Link Library");
    EXPECT_STREQ(version->productVersionText, "1, 0, 0, 1");
}

}  // namespace
