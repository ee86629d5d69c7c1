// The viewer dialog's controls, driven as a user would on the offscreen platform.
#include "viewer/viewer_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include "host/module_load.h"
#include "host/plugin_app.h"
#include "host/resource_ids.h"
#include "platform/qt/native_window.h"
#include "tests/host/test_images.h"

namespace {

class ViewerDialogTest : public testing::Test {
  protected:
    void SetUp() override {
        OnModuleAttach(reinterpret_cast<const void*>(&OnModuleAttach));
        gPluginApp = new PluginApp();
    }
    void TearDown() override {
        dialog.reset();
        delete gPluginApp;
        gPluginApp = nullptr;
    }

    // Opens the dialog on a file with only a header: nothing here decodes.
    void Open(int32_t planes, int32_t levels, int32_t width, int32_t height,
              const std::string& name = "a-rather-long-file-name.kvl") {
        gPluginApp->image = std::make_unique<ImageFile>(
            MakeHeaderOnlyFile(dir, name, planes, levels, width, height).c_str());
        dialog = std::make_unique<ViewerDialog>(nullptr);
        ASSERT_TRUE(dialog->Create());
    }

    template <typename Widget>
    Widget* Control(int32_t id) {
        return dynamic_cast<Widget*>(platform::WidgetOf(dialog->GetDlgItem(id)));
    }

    void Type(int32_t id, const QString& text) {
        auto* edit = Control<QLineEdit>(id);
        ASSERT_NE(edit, nullptr);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

    void Click(int32_t id) {
        auto* button = Control<QPushButton>(id);
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    QString Text(int32_t id) { return Control<QLineEdit>(id)->text(); }
    QString Estimate() { return Control<QGroupBox>(IDC_OUTPUT_GROUP)->title(); }

    kavel_test::TempDir dir;
    std::unique_ptr<ViewerDialog> dialog;
};

TEST_F(ViewerDialogTest, InitialisationFillsTheRatioListAndShowsTheEstimate) {
    Open(3, 6, 8000, 6000);
    EXPECT_EQ(gPluginApp->image->GetLevelCount(), 5);  // 250 x 188 at scale 5
    auto* list = Control<QComboBox>(IDC_RATIO_LIST);
    ASSERT_EQ(list->count(), 5);
    EXPECT_EQ(list->itemText(0), "1:1        8000 X 6000");
    EXPECT_EQ(list->itemText(1), "1:2        4000 X 3000");
    EXPECT_EQ(list->itemText(4), "1:16      500 X 375");
    EXPECT_EQ(list->currentIndex(), 2);
    EXPECT_EQ(Text(IDC_CROP_WIDTH), "640");
    EXPECT_EQ(Text(IDC_CROP_HEIGHT), "480");
    EXPECT_EQ(Text(IDC_RESOLUTION), "72");
    EXPECT_EQ(Estimate(), "Output Image  (900K)");
    EXPECT_EQ(Control<QGroupBox>(IDC_FULL_VIEW_GROUP)->title(), "a-rather-long-file-name.kvl");
    EXPECT_TRUE(Control<QPushButton>(1)->isEnabled());
    EXPECT_NE(dialog->m_cursorOverOutput, nullptr);
    EXPECT_NE(dialog->m_cursorDragRed, nullptr);
    EXPECT_NE(dialog->m_cursorPane, nullptr);
    EXPECT_EQ(dialog->m_outputCentre, (platform::Point{-1, -1}));
}

TEST_F(ViewerDialogTest, SmallImageCutsTheCropAndLeavesTheSavedScaleUnselected) {
    Open(1, 4, 512, 512);
    EXPECT_EQ(gPluginApp->image->GetLevelCount(), 1);
    auto* list = Control<QComboBox>(IDC_RATIO_LIST);
    EXPECT_EQ(list->count(), 1);
    EXPECT_EQ(list->currentIndex(), -1);
    EXPECT_EQ(Text(IDC_CROP_WIDTH), "128");
    EXPECT_EQ(Text(IDC_CROP_HEIGHT), "128");
    EXPECT_EQ(Estimate(), "Output Image  (16K)");
}

TEST_F(ViewerDialogTest, ImagesThatFitThePaneKeepTheirLevelCount) {
    Open(3, 3, 100, 100);
    EXPECT_EQ(gPluginApp->image->GetLevelCount(), 3);
    EXPECT_EQ(Control<QComboBox>(IDC_RATIO_LIST)->count(), 3);
    dialog.reset();
    Open(3, 2, 200, 100, "b.kvl");
    EXPECT_EQ(gPluginApp->image->GetLevelCount(), 0);
    EXPECT_EQ(Control<QComboBox>(IDC_RATIO_LIST)->count(), 0);
    EXPECT_EQ(Control<QGroupBox>(IDC_FULL_VIEW_GROUP)->title(),
              dir.path("b.kvl").size() <= 20 ? QString::fromStdString(dir.path("b.kvl")) : "b.kvl");
}

TEST_F(ViewerDialogTest, ApplyLimitsTypedValues) {
    Open(3, 6, 8000, 6000);
    Type(IDC_CROP_WIDTH, "1000000");
    Type(IDC_CROP_HEIGHT, "-5");
    Type(IDC_RESOLUTION, "0");
    Click(IDC_APPLY);
    EXPECT_EQ(Text(IDC_CROP_WIDTH), "2000");  // the width at 1:4
    EXPECT_EQ(Text(IDC_CROP_HEIGHT), "1");
    EXPECT_EQ(Text(IDC_RESOLUTION), "1");
    EXPECT_EQ(dialog->m_cropRect, (platform::Rect{0, 0, 2000, 1}));

    Type(IDC_CROP_HEIGHT, "tall");
    Type(IDC_RESOLUTION, "123456");
    Click(IDC_APPLY);
    EXPECT_EQ(Text(IDC_CROP_HEIGHT), "1");
    EXPECT_EQ(Text(IDC_RESOLUTION), "9999");
    EXPECT_EQ(dialog->m_resolution, 9999);
}

TEST_F(ViewerDialogTest, MaxTakesTheWholeImageAtTheScale) {
    Open(3, 6, 8000, 6000);
    Click(IDC_MAX);
    EXPECT_EQ(Text(IDC_CROP_WIDTH), "2000");
    EXPECT_EQ(Text(IDC_CROP_HEIGHT), "1500");
    EXPECT_EQ(Estimate(), "Output Image  (8.58M)");
}

TEST_F(ViewerDialogTest, RatioChangeValidatesAtTheNewScale) {
    Open(1, 6, 8000, 6000);
    auto* list = Control<QComboBox>(IDC_RATIO_LIST);
    list->setCurrentIndex(4);
    emit list->activated(4);
    EXPECT_EQ(dialog->m_scale, 4);
    EXPECT_EQ(Text(IDC_CROP_WIDTH), "500");
    EXPECT_EQ(Text(IDC_CROP_HEIGHT), "375");
    // A smaller crop is not enlarged again when the scale goes back.
    dialog->SendCommand(IDM_RATIO_FIRST + 1);
    EXPECT_EQ(dialog->m_scale, 1);
    EXPECT_EQ(list->currentIndex(), 1);
    EXPECT_EQ(Text(IDC_CROP_WIDTH), "500");
}

TEST_F(ViewerDialogTest, CropOf32767IsRefusedAnd32766Accepted) {
    Open(1, 1, 40000, 40000);
    auto* list = Control<QComboBox>(IDC_RATIO_LIST);
    list->setCurrentIndex(0);
    emit list->activated(0);
    Type(IDC_CROP_WIDTH, "32767");
    Click(IDC_APPLY);
    EXPECT_FALSE(Control<QPushButton>(1)->isEnabled());
    Type(IDC_CROP_WIDTH, "32766");
    Click(IDC_APPLY);
    EXPECT_TRUE(Control<QPushButton>(1)->isEnabled());
}

TEST_F(ViewerDialogTest, OkWritesBackTheLastValidatedChoice) {
    Open(3, 6, 8000, 6000);
    Type(IDC_CROP_WIDTH, "300");
    Type(IDC_CROP_HEIGHT, "200");
    Type(IDC_RESOLUTION, "150");
    Click(IDC_APPLY);
    Type(IDC_CROP_WIDTH, "999");  // typed after the last validation: ignored
    Click(1);
    EXPECT_EQ(dialog->EndResult(), 1);
    EXPECT_EQ(gPluginApp->scale, 2);
    EXPECT_EQ(gPluginApp->GetResolution(), 150);
    EXPECT_EQ(gPluginApp->right - gPluginApp->left, 300);
    EXPECT_EQ(gPluginApp->bottom - gPluginApp->top, 200);
    // Centred on the middle of the image at 1:4 (2000 x 1500), give or take the thumbnail's
    // pixel at 1:32.
    EXPECT_NEAR((gPluginApp->left + gPluginApp->right) / 2, 1000, 24);
    EXPECT_NEAR((gPluginApp->top + gPluginApp->bottom) / 2, 750, 24);
}

TEST_F(ViewerDialogTest, CancelWritesNothing) {
    Open(3, 6, 8000, 6000);
    gPluginApp->left = 11;
    gPluginApp->right = 22;
    Type(IDC_RESOLUTION, "300");
    Click(IDC_APPLY);
    Click(2);
    EXPECT_EQ(dialog->EndResult(), 2);
    EXPECT_EQ(gPluginApp->left, 11);
    EXPECT_EQ(gPluginApp->right, 22);
    EXPECT_EQ(gPluginApp->GetResolution(), 72);
}

}  // namespace
