// The viewer dialog's controls, driven as a user would on the offscreen platform.
#include "viewer/viewer_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include "host/module_load.h"
#include "host/resource_ids.h"
#include "platform/qt/native_window.h"
#include "tests/host/test_images.h"
#include "viewer/image_file.h"

namespace {

class ViewerDialogTest : public testing::Test {
  protected:
    void SetUp() override { OnModuleAttach(reinterpret_cast<const void*>(&OnModuleAttach)); }
    void TearDown() override {
        dialog.reset();
        image.reset();
    }

    // Opens the dialog on a file with only a header: nothing here decodes.
    void Open(int32_t planes, int32_t levels, int32_t width, int32_t height,
              const std::string& name = "a-rather-long-file-name.kvl") {
        dialog.reset();
        image = std::make_unique<ImageFile>(
            MakeHeaderOnlyFile(dir, name, planes, levels, width, height).c_str());
        choice.image = image.get();
        dialog = std::make_unique<ViewerDialog>(nullptr, choice);
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
    std::unique_ptr<ImageFile> image;
    ViewerChoice choice;
    std::unique_ptr<ViewerDialog> dialog;
};

TEST_F(ViewerDialogTest, InitialisationFillsTheRatioListAndShowsTheEstimate) {
    Open(3, 6, 8000, 6000);
    EXPECT_EQ(image->GetLevelCount(), 5);  // 250 x 188 at scale 5
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

TEST_F(ViewerDialogTest, SmallImagesOpenAtTheLargestListedRatioNotBeyondTheSavedScale) {
    // 512 x 512 with 4 levels: thumbnail scale 1, one entry; the saved 2 is not listed.
    Open(1, 4, 512, 512);
    EXPECT_EQ(image->GetLevelCount(), 1);
    auto* list = Control<QComboBox>(IDC_RATIO_LIST);
    EXPECT_EQ(list->count(), 1);
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_EQ(dialog->m_scale, 0);
    EXPECT_EQ(Text(IDC_CROP_WIDTH), "512");
    EXPECT_EQ(Text(IDC_CROP_HEIGHT), "480");
    EXPECT_EQ(Estimate(), "Output Image  (240K)");

    // 40 x 30 in one level fits the pane: level count kept, 1:1 the only entry.
    Open(3, 1, 40, 30, "small.kvl");
    EXPECT_EQ(Control<QComboBox>(IDC_RATIO_LIST)->count(), 1);
    EXPECT_EQ(dialog->m_scale, 0);

    // A saved scale inside the list is kept.
    choice.scale = 1;
    Open(3, 6, 8000, 6000, "large.kvl");
    EXPECT_EQ(Control<QComboBox>(IDC_RATIO_LIST)->currentIndex(), 1);
    EXPECT_EQ(dialog->m_scale, 1);
}

TEST_F(ViewerDialogTest, ImagesThatFitThePaneKeepTheirLevelCount) {
    Open(3, 3, 100, 100);
    EXPECT_EQ(image->GetLevelCount(), 3);
    EXPECT_EQ(Control<QComboBox>(IDC_RATIO_LIST)->count(), 3);
    Open(3, 2, 200, 100, "b.kvl");
    EXPECT_EQ(image->GetLevelCount(), 0);
    // Thumbnail scale 0: the list still offers 1:1, selected.
    EXPECT_EQ(Control<QComboBox>(IDC_RATIO_LIST)->count(), 1);
    EXPECT_EQ(Control<QComboBox>(IDC_RATIO_LIST)->currentIndex(), 0);
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
    // The caption says why OK is disabled (32767 x 480 grey pixels).
    EXPECT_EQ(Estimate(), "Output Image  (15.00M) too large (max 32766)");
    Type(IDC_CROP_WIDTH, "32766");
    Click(IDC_APPLY);
    EXPECT_TRUE(Control<QPushButton>(1)->isEnabled());
    EXPECT_EQ(Estimate().indexOf("too large"), -1);
}

TEST_F(ViewerDialogTest, OkAndEnterTakeWhatWasTypedAsApplyWould) {
    Open(3, 6, 8000, 6000);
    Type(IDC_CROP_WIDTH, "300");
    Type(IDC_CROP_HEIGHT, "200");
    Type(IDC_RESOLUTION, "150");
    Click(IDC_APPLY);
    Type(IDC_CROP_WIDTH, "999");  // typed after the last Apply: taken by OK all the same
    Click(1);
    EXPECT_EQ(dialog->EndResult(), 1);
    EXPECT_EQ(Text(IDC_CROP_WIDTH), "999");
    EXPECT_EQ(choice.scale, 2);
    EXPECT_EQ(choice.resolution, 150);
    EXPECT_EQ(choice.output.Width(), 999);
    EXPECT_EQ(choice.output.Height(), 200);
    // Centred on the middle of the image at 1:4 (2000 x 1500), give or take the thumbnail's
    // pixel at 1:32.
    EXPECT_NEAR((choice.output.left + choice.output.right) / 2, 1000, 24);
    EXPECT_NEAR((choice.output.top + choice.output.bottom) / 2, 750, 24);

    // Enter in a field: validated (clamped to the image and shown), then OK.
    Open(3, 6, 8000, 6000, "again.kvl");
    Type(IDC_CROP_WIDTH, "64");
    Type(IDC_CROP_HEIGHT, "100000");
    QTest::keyClick(Control<QLineEdit>(IDC_CROP_HEIGHT), Qt::Key_Return);
    EXPECT_EQ(dialog->EndResult(), 1);
    EXPECT_EQ(Text(IDC_CROP_HEIGHT), "1500");
    EXPECT_EQ(choice.output.Width(), 64);
    EXPECT_EQ(choice.output.Height(), 1500);
    EXPECT_EQ(choice.output.top, 0);

    // A crop the host cannot take keeps the dialog open.
    Open(1, 1, 40000, 40000, "huge.kvl");
    Control<QComboBox>(IDC_RATIO_LIST)->setCurrentIndex(0);
    emit Control<QComboBox>(IDC_RATIO_LIST)->activated(0);
    Type(IDC_CROP_WIDTH, "40000");
    Click(1);
    EXPECT_EQ(dialog->EndResult(), 0);
    EXPECT_FALSE(Control<QPushButton>(1)->isEnabled());
}

TEST_F(ViewerDialogTest, TheDialogIsNotKeptAboveOtherWindows) {
    Open(3, 6, 8000, 6000);
    QWidget* widget = platform::WidgetOf(dialog.get());
    EXPECT_FALSE(widget->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dialog->GetExStyle() & platform::WS_EX_TOPMOST, 0u);
}

TEST_F(ViewerDialogTest, CancelWritesNothing) {
    Open(3, 6, 8000, 6000);
    choice.output = platform::Rect{11, 0, 22, 0};
    Type(IDC_RESOLUTION, "300");
    Click(IDC_APPLY);
    Click(2);
    EXPECT_EQ(dialog->EndResult(), 2);
    EXPECT_EQ(choice.output, (platform::Rect{11, 0, 22, 0}));
    EXPECT_EQ(choice.resolution, 72);
}

}  // namespace
