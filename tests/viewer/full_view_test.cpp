// The viewer's pictures driven as a user would on the offscreen platform: the thumbnail with
// its two boxes, the preview under the red box, dragging, zooming, the ratio menu, the status
// line and the pointer shapes.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPushButton>
#include <QWheelEvent>
#include <QWindow>
#include <QtTest/QTest>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/module_load.h"
#include "host/resource_ids.h"
#include "platform/cursor.h"
#include "platform/drawing_context.h"
#include "platform/message_box.h"
#include "platform/popup_menu.h"
#include "platform/qt/native_window.h"
#include "tests/support/test_files.h"
#include "viewer/dib_display.h"
#include "viewer/image_file.h"
#include "viewer/pixel_raster.h"
#include "viewer/screenshots/sample_files.h"
#include "viewer/viewer_dialog.h"

namespace {

using platform::Colour;
using platform::Point;
using platform::Rect;

constexpr Colour kRed{255, 0, 0};
constexpr Colour kWhite{255, 255, 255};
constexpr Colour kBlack{0, 0, 0};

class FullViewTest : public testing::Test {
  protected:
    // One colour photograph, 1800 x 1200 in 5 levels: thumbnail scale 3 (225 x 150), the
    // default scale 2 (450 x 300) in the list.
    static void SetUpTestSuite() {
        directory = new kavel_test::TempDir();
        samplePath = new std::string(directory->path("coffee.kvl"));
        std::string error;
        const SampleFile sample{std::string(KAVEL_DATA_DIR) + "/coffee.png", 1800, 1200, false,
                                70.0};
        ASSERT_TRUE(MakeSampleFile(sample, *samplePath, &error)) << error;
    }
    static void TearDownTestSuite() {
        delete samplePath;
        delete directory;
    }

    void SetUp() override {
        OnModuleAttach(reinterpret_cast<const void*>(&OnModuleAttach));
        platform::ClearMessageLog();
        platform::SetPopupMenuHook(nullptr);
        image = std::make_unique<ImageFile>(samplePath->c_str());
        choice.image = image.get();
        dialog = std::make_unique<ViewerDialog>(nullptr, choice);
        ASSERT_TRUE(dialog->Create());
        widget = platform::WidgetOf(dialog.get());
        widget->move(60, 50);
        window = widget->windowHandle();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        // The first paint places the boxes and draws both panes.
        QElapsedTimer timer;
        timer.start();
        while (!ViewerDialog::IsPlaced(dialog->m_redCentre) && timer.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        ASSERT_TRUE(ViewerDialog::IsPlaced(dialog->m_redCentre));
        ASSERT_EQ(image->GetLevelCount(), 3);
    }
    void TearDown() override {
        platform::SetPopupMenuHook(nullptr);
        dialog.reset();
        image.reset();
    }

    // Dialog client coordinates of a point of a pane's client area.
    QPoint InDialog(int32_t pane, Point point) {
        const QWidget* control = platform::WidgetOf(dialog->GetDlgItem(pane));
        return control->geometry().topLeft() + platform::ClientOriginOf(control) +
               QPoint(point.x, point.y);
    }
    QPoint FullView(Point point) { return InDialog(IDC_FULL_VIEW_PANE, point); }

    void Move(QPoint at) { QTest::mouseMove(window, at); }
    void Press(QPoint at) { QTest::mousePress(window, Qt::LeftButton, {}, at); }
    void Release(QPoint at) { QTest::mouseRelease(window, Qt::LeftButton, {}, at); }
    void Drag(QPoint from, QPoint to) {
        Press(from);
        Move(from + QPoint(1, 1));
        Move(to);
        Release(to);
    }

    // A box as PlaceBox places it, in full-view pane coordinates.
    Rect BoxInPane(Point centre, const Rect& extent) {
        const Rect screen = dialog->PlaceBox(false, centre, extent, 0, false);
        const PaneGeometry mapping = dialog->FullViewMapping();
        const Point topLeft = mapping.ScreenToPane({screen.left, screen.top});
        const Point bottomRight = mapping.ScreenToPane({screen.right, screen.bottom});
        return Rect{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    }
    Rect RedBox() { return BoxInPane(dialog->m_redCentre, dialog->RedBoxExtent()); }
    Rect OutputBox() { return BoxInPane(dialog->m_outputCentre, dialog->OutputBoxExtent()); }

    Colour Pixel(int32_t pane, int32_t x, int32_t y) {
        return dialog->GetDlgItem(pane)->GetDC().GetPixel(x, y);
    }
    Colour FullViewPixel(int32_t x, int32_t y) { return Pixel(IDC_FULL_VIEW_PANE, x, y); }

    // The red frame: two pixels thick along all four edges of box.
    void ExpectRedFrame(const Rect& box) {
        const int32_t midX = (box.left + box.right) / 2;
        const int32_t midY = (box.top + box.bottom) / 2;
        EXPECT_EQ(FullViewPixel(box.left, midY), kRed);
        EXPECT_EQ(FullViewPixel(box.left + 1, midY), kRed);
        EXPECT_EQ(FullViewPixel(box.right, midY), kRed);
        EXPECT_EQ(FullViewPixel(box.right - 1, midY), kRed);
        EXPECT_EQ(FullViewPixel(midX, box.top), kRed);
        EXPECT_EQ(FullViewPixel(midX, box.top + 1), kRed);
        EXPECT_EQ(FullViewPixel(midX, box.bottom), kRed);
        EXPECT_EQ(FullViewPixel(midX, box.bottom - 1), kRed);
    }

    // Validates a crop typed into the fields, as Apply does.
    void SetCrop(int32_t width, int32_t height) {
        dialog->SetDlgItemInt(IDC_CROP_WIDTH, width);
        dialog->SetDlgItemInt(IDC_CROP_HEIGHT, height);
        dialog->SendCommand(platform::MAKEWPARAM(IDC_APPLY, platform::BN_CLICKED));
    }

    // At 1:2 with a 600 x 400 crop the output box (88 x 59 pane pixels) is larger than the red
    // box (57 x 32), and both are centred: the output box's corners lie outside the red box.
    void UseOutputBoxLargerThanRedBox() {
        dialog->SendCommand(IDM_RATIO_FIRST + 1);
        SetCrop(600, 400);
        const Rect output = OutputBox();
        ASSERT_EQ(output.right - output.left, 88);
        ASSERT_EQ(output.bottom - output.top, 59);
        const Rect red = RedBox();
        ASSERT_EQ(red.right - red.left, 57);
        ASSERT_EQ(red.bottom - red.top, 32);
    }
    // A point inside the output box, outside the red box.
    Point OutputGrip() {
        const Rect output = OutputBox();
        return Point{output.right - 3, output.bottom - 3};
    }

    std::string Status() { return dialog->GetDlgItemText(IDC_STATUS); }
    // The two numbers of the status line.
    Point StatusPoint() {
        Point point{-1, -1};
        EXPECT_EQ(std::sscanf(Status().c_str(), "%d x, %d y", &point.x, &point.y), 2) << Status();
        return point;
    }

    static kavel_test::TempDir* directory;
    static std::string* samplePath;
    std::unique_ptr<ImageFile> image;
    ViewerChoice choice;
    std::unique_ptr<ViewerDialog> dialog;
    QWidget* widget = nullptr;
    QWindow* window = nullptr;
};

kavel_test::TempDir* FullViewTest::directory = nullptr;
std::string* FullViewTest::samplePath = nullptr;

TEST_F(FullViewTest, FirstPaintShowsTheThumbnailWithBothBoxesCentred) {
    const PaneGeometry mapping = dialog->FullViewMapping();
    const Rect shown = mapping.DisplayedRect();
    EXPECT_EQ(shown, (Rect{0, 28, 133, 116}));  // 225 x 150 at 225 / 133 per pixel
    const Point middle{(shown.left + shown.right) / 2, (shown.top + shown.bottom) / 2};
    EXPECT_NEAR(dialog->m_redCentre.x, middle.x, 1);
    EXPECT_NEAR(dialog->m_redCentre.y, middle.y, 1);
    EXPECT_NEAR(dialog->m_outputCentre.x, middle.x, 1);
    EXPECT_NEAR(dialog->m_outputCentre.y, middle.y, 1);

    // The thumbnail itself, as the bitmap of its decode at the pane's scale.
    std::unique_ptr<PixelRaster> thumbnail = image->ReadThumbnail();
    ASSERT_NE(thumbnail, nullptr);
    const std::unique_ptr<DibDisplay> bitmap = MakePaneBitmap(*thumbnail, mapping.Scale());
    ASSERT_NE(bitmap, nullptr);
    for (Point p : {Point{5, 5}, Point{60, 20}, Point{100, 40}}) {
        const uint32_t rgb = bitmap->Bitmap()->PixelRgb(p.x, p.y);
        EXPECT_EQ(FullViewPixel(shown.left + p.x, shown.top + p.y),
                  (Colour{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)}));
    }
    // The 640 x 480 crop was cut to the whole image at 1:4, so the output box covers exactly
    // the thumbnail; the red box (the preview's 392 x 217 fit of 450 x 300) lies over it.
    EXPECT_EQ(OutputBox(), shown);
    const Rect red = RedBox();
    EXPECT_EQ(red.right - red.left, 115);
    EXPECT_EQ(red.bottom - red.top, 64);
    ExpectRedFrame(red);
    EXPECT_NE(FullViewPixel(red.left + 2, (red.top + red.bottom) / 2), kRed);
}

TEST_F(FullViewTest, TheOutputBoxIsBlackWithWhiteDashesOfThree) {
    SetCrop(200, 100);  // 100 x 50 at the thumbnail scale: 59 x 29 pane pixels
    const Rect box = OutputBox();
    EXPECT_EQ(box.right - box.left, 59);
    EXPECT_EQ(box.bottom - box.top, 29);
    for (int32_t x = box.left; x < box.left + 57; ++x) {
        EXPECT_EQ(FullViewPixel(x, box.top), ((x - box.left) / 3) % 2 == 0 ? kWhite : kBlack) << x;
    }
    for (int32_t y = box.top; y < box.top + 27; ++y) {
        EXPECT_EQ(FullViewPixel(box.right, y), ((y - box.top) / 3) % 2 == 0 ? kWhite : kBlack) << y;
    }
    // Drawn under the red box, which is still whole.
    ExpectRedFrame(RedBox());
}

TEST_F(FullViewTest, ABoxLargerThanTheThumbnailCoversExactlyTheThumbnail) {
    // At the thumbnail scale itself the preview's fit is far larger than the thumbnail.
    dialog->SendCommand(IDM_RATIO_FIRST + 3);
    EXPECT_EQ(dialog->m_scale, 3);
    const Rect shown = dialog->FullViewMapping().DisplayedRect();
    EXPECT_EQ(RedBox(), shown);
    // The frame's outer right line falls just off the 133 pixels of the pane.
    const int32_t midY = (shown.top + shown.bottom) / 2;
    EXPECT_EQ(FullViewPixel(shown.left, midY), kRed);
    EXPECT_EQ(FullViewPixel(shown.left + 1, midY), kRed);
    EXPECT_EQ(FullViewPixel(shown.right - 1, midY), kRed);
    EXPECT_EQ(FullViewPixel(60, shown.top), kRed);
    EXPECT_EQ(FullViewPixel(60, shown.top + 1), kRed);
    EXPECT_EQ(FullViewPixel(60, shown.bottom - 1), kRed);
    Point centre{5, 5};
    const Rect screen = dialog->PlaceBox(false, centre, Rect{0, 0, 100000, 100000}, 0, false);
    EXPECT_EQ(screen, dialog->FullViewMapping().PaneToScreenRect(shown));
    EXPECT_EQ(centre, (Point{(shown.left + shown.right) / 2, (shown.top + shown.bottom) / 2}));
}

TEST_F(FullViewTest, BoxesAreClampedInOrderAtTheEdges) {
    SetCrop(200, 100);
    const Rect shown = dialog->FullViewMapping().DisplayedRect();
    Point corner{0, 0};
    const Rect box = BoxInPane(corner, dialog->OutputBoxExtent());
    EXPECT_EQ(box.left, shown.left);
    EXPECT_EQ(box.top, shown.top);
    Point far{1000, 1000};
    const Rect other = BoxInPane(far, dialog->OutputBoxExtent());
    EXPECT_EQ(other.right, shown.right);
    EXPECT_EQ(other.bottom, shown.bottom);
    // The stored centre is the clamped box's middle.
    Point stored{1000, 1000};
    dialog->PlaceBox(false, stored, dialog->OutputBoxExtent(), 0, false);
    EXPECT_EQ(stored, (Point{(other.left + other.right) / 2, (other.top + other.bottom) / 2}));
}

TEST_F(FullViewTest, DraggingTheRedBoxLeavesTheOutputBoxAndMovesThePreview) {
    SetCrop(200, 100);
    const Point output = dialog->m_outputCentre;
    const Point red = dialog->m_redCentre;
    Drag(FullView(red), FullView({red.x - 5, red.y - 3}));
    EXPECT_FALSE(dialog->m_dragging);
    EXPECT_EQ(dialog->m_outputCentre, output);
    EXPECT_EQ(dialog->m_redCentre, (Point{red.x - 5, red.y - 3}));
    // Redrawn in their own styles at the new places.
    ExpectRedFrame(RedBox());
    const Rect box = OutputBox();
    EXPECT_EQ(FullViewPixel(box.left, box.top), kWhite);
    EXPECT_EQ(FullViewPixel(box.left + 4, box.top), kBlack);

    // The preview shows the decode of the region under the red box.
    const Rect region = dialog->PreviewRegion();
    std::unique_ptr<PixelRaster> raster =
        image->ReadRegion(region.left, region.top, region.right, region.bottom, 2);
    ASSERT_NE(raster, nullptr);
    platform::Window* preview = dialog->GetDlgItem(IDC_PREVIEW_PANE);
    PaneGeometry geometry;
    geometry.SetUp(preview, preview->GetClientRect(), raster->Bounds());
    ASSERT_DOUBLE_EQ(geometry.Scale(), 1.0);
    for (Point p : {Point{0, 0}, Point{100, 50}, Point{391, 250}}) {
        const uint8_t* pixel = raster->Row(p.y) + 3 * p.x;
        EXPECT_EQ(Pixel(IDC_PREVIEW_PANE, geometry.Offset().x + p.x, geometry.Offset().y + p.y),
                  (Colour{pixel[0], pixel[1], pixel[2]}));
    }
}

TEST_F(FullViewTest, DraggingTheOutputBoxBringsTheRedBox) {
    UseOutputBoxLargerThanRedBox();
    const Point target{80, 70};
    Drag(FullView(OutputGrip()), FullView(target));
    EXPECT_EQ(dialog->m_outputCentre, target);
    EXPECT_EQ(dialog->m_redCentre, target);
    ExpectRedFrame(RedBox());

    // Towards the bottom-right corner each box is clamped on its own.
    Drag(FullView(OutputGrip()), FullView({132, 115}));
    const Rect shown = dialog->FullViewMapping().DisplayedRect();
    const Rect output = OutputBox();
    const Rect red = RedBox();
    EXPECT_EQ(output.right, shown.right);
    EXPECT_EQ(output.bottom, shown.bottom);
    EXPECT_EQ(red.right, shown.right);
    EXPECT_EQ(red.bottom, shown.bottom);
    EXPECT_NE(dialog->m_redCentre, dialog->m_outputCentre);
}

TEST_F(FullViewTest, RubberBandsFollowThePointerWhileDragging) {
    const Point red = dialog->m_redCentre;
    const Rect before = RedBox();
    const int32_t midY = (before.top + before.bottom) / 2;
    const Colour under = FullViewPixel(before.left - 5, midY);
    Press(FullView(red));
    Move(FullView({red.x + 1, red.y + 1}));
    Move(FullView({red.x - 5, red.y}));
    EXPECT_TRUE(dialog->m_dragging);
    EXPECT_TRUE(dialog->m_draggingRed);
    EXPECT_FALSE(dialog->m_draggingOutput);
    // A white band in exclusive or at the new place, and the old frame inverted.
    const Rect band = RedBox();
    EXPECT_EQ(band.left, before.left - 5);
    EXPECT_EQ(
        FullViewPixel(band.left, midY),
        (Colour{uint8_t(255 - under.red), uint8_t(255 - under.green), uint8_t(255 - under.blue)}));
    EXPECT_EQ(FullViewPixel(before.left, midY), (Colour{0, 255, 255}));
    // Moving on erases the band drawn last.
    Move(FullView({red.x - 4, red.y}));
    EXPECT_EQ(FullViewPixel(band.left, midY), under);
    Release(FullView({red.x - 4, red.y}));
    EXPECT_FALSE(dialog->m_dragging);
    ExpectRedFrame(RedBox());
    EXPECT_NE(FullViewPixel(before.left, midY), (Colour{0, 255, 255}));
}

TEST_F(FullViewTest, APressAndReleaseWithoutAMoveStartsNothingAndRedrawsNothing) {
    const Point red = dialog->m_redCentre;
    {
        platform::DrawingContext dc = dialog->GetDlgItem(IDC_FULL_VIEW_PANE)->GetDC();
        dc.FillSolidRect(Rect{40, 60, 41, 61}, Colour{1, 2, 3});
    }
    Press(FullView(red));
    Release(FullView(red));
    EXPECT_FALSE(dialog->m_dragging);
    EXPECT_EQ(dialog->m_redCentre, red);
    EXPECT_EQ(FullViewPixel(40, 60), (Colour{1, 2, 3}));
}

TEST_F(FullViewTest, AReleaseOutsideThePaneEndsTheDragWithTheBoxesRedrawn) {
    const Point red = dialog->m_redCentre;
    Press(FullView(red));
    Move(FullView({red.x + 1, red.y + 1}));
    Move(FullView({red.x - 8, red.y - 8}));
    // Moves outside the full view, button held, change nothing.
    const QPoint outside = InDialog(IDC_PREVIEW_PANE, {100, 100});
    Move(outside);
    EXPECT_TRUE(dialog->m_dragging);
    EXPECT_EQ(dialog->m_redCentre, (Point{red.x - 8, red.y - 8}));
    Release(outside);
    EXPECT_FALSE(dialog->m_dragging);
    EXPECT_FALSE(dialog->m_draggingRed);
    ExpectRedFrame(RedBox());
}

TEST_F(FullViewTest, WheelAndDoubleClickZoomAroundThePointAndBeepAt1To1) {
    // The wheel: one ratio per notch around the pointer; the crop does not move.
    const Point output = dialog->m_outputCentre;
    const QPoint at = InDialog(IDC_PREVIEW_PANE, {250, 100});
    const Point screen = dialog->ClientToScreen({at.x(), at.y()});
    const Point before = dialog->PreviewPointAtScale(screen);
    auto turn = [&](int delta) {
        QWheelEvent wheel(QPointF(at), QPointF(widget->mapToGlobal(at)), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(widget, &wheel);
    };
    turn(120);  // one notch away from the user: closer
    EXPECT_EQ(dialog->m_scale, 1);
    EXPECT_EQ(dialog->ComboGetCurSel(IDC_RATIO_LIST), 1);
    EXPECT_EQ(dialog->m_outputCentre, output);
    // The point under the pointer is still under it, up to a thumbnail pixel (16 pixels at
    // 1:2).
    const Point after = dialog->PreviewPointAtScale(screen);
    const Point kept = ImageFile::ConvertPoint(before.x, before.y, 2, 1);
    EXPECT_NEAR(after.x, kept.x, 24);
    EXPECT_NEAR(after.y, kept.y, 24);
    // Half notches add up; back out one ratio.
    turn(-60);
    EXPECT_EQ(dialog->m_scale, 1);
    turn(-60);
    EXPECT_EQ(dialog->m_scale, 2);
    // 1:4 is the last ratio listed (the thumbnail scale 3 is not): the wheel stops there.
    turn(-120);
    EXPECT_EQ(dialog->m_scale, 2);
    EXPECT_EQ(dialog->ComboGetCurSel(IDC_RATIO_LIST), 2);
    // Over the full view the wheel does nothing.
    QWheelEvent wheel(QPointF(FullView({60, 60})), QPointF(), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(widget, &wheel);
    EXPECT_EQ(dialog->m_scale, 2);

    // The double-click: one ratio closer, both boxes recentred on the point.
    const QPoint click = InDialog(IDC_PREVIEW_PANE, {250, 100});
    const Point atScale =
        dialog->PreviewPointAtScale(dialog->ClientToScreen({click.x(), click.y()}));
    const Point atThumbnail = ImageFile::ConvertPoint(atScale.x, atScale.y, 2, 3);
    QTest::mouseDClick(window, Qt::LeftButton, {}, click);
    EXPECT_EQ(dialog->m_scale, 1);
    const Point expected = dialog->FullViewMapping().SourceToPane(atThumbnail.x, atThumbnail.y);
    // Recentred on the clicked point (then clamped by the redraw).
    EXPECT_NEAR(dialog->m_outputCentre.x, expected.x, 1);
    EXPECT_NEAR(dialog->m_outputCentre.y, expected.y, 1);
    EXPECT_EQ(dialog->ComboGetCurSel(IDC_RATIO_LIST), 1);

    QTest::mouseDClick(window, Qt::LeftButton, {}, click);
    EXPECT_EQ(dialog->m_scale, 0);
    EXPECT_EQ(platform::BeepCount(), 0);
    QTest::mouseDClick(window, Qt::LeftButton, {}, click);
    EXPECT_EQ(dialog->m_scale, 0);
    EXPECT_EQ(platform::BeepCount(), 1);
    // A double-click in the full view zooms nothing.
    QTest::mouseDClick(window, Qt::LeftButton, {}, FullView({60, 60}));
    EXPECT_EQ(dialog->m_scale, 0);
}

TEST_F(FullViewTest, ShiftDoubleClickZoomsOutButNotBeyondTheThumbnailScale) {
    dialog->SendCommand(IDM_RATIO_FIRST + 3);
    ASSERT_EQ(dialog->m_scale, 3);
    EXPECT_EQ(dialog->ComboGetCurSel(IDC_RATIO_LIST), -1);
    SetCrop(200, 100);
    const Point before = dialog->m_outputCentre;
    const QPoint click = InDialog(IDC_PREVIEW_PANE, {150, 100});
    const Point atScale =
        dialog->PreviewPointAtScale(dialog->ClientToScreen({click.x(), click.y()}));
    QTest::mouseDClick(window, Qt::LeftButton, Qt::ShiftModifier, click);
    EXPECT_EQ(dialog->m_scale, 3);
    EXPECT_EQ(platform::BeepCount(), 0);
    // Both boxes recentred on the clicked point, each then clamped into the thumbnail (the
    // red box covers all of it at this scale).
    Point expected = dialog->FullViewMapping().SourceToPane(atScale.x, atScale.y);
    dialog->PlaceBox(false, expected, dialog->OutputBoxExtent(), 0, false);
    EXPECT_EQ(dialog->m_outputCentre, expected);
    EXPECT_NE(dialog->m_outputCentre, before);

    dialog->SendCommand(IDM_RATIO_FIRST + 1);
    QTest::mouseDClick(window, Qt::LeftButton, Qt::ShiftModifier, click);
    EXPECT_EQ(dialog->m_scale, 2);
    EXPECT_EQ(dialog->ComboGetCurSel(IDC_RATIO_LIST), 2);
}

TEST_F(FullViewTest, TheRightButtonMenuListsTheRatiosWithTheCurrentOneChecked) {
    std::vector<platform::MenuItem> shown;
    int menus = 0;
    platform::SetPopupMenuHook([&](const std::vector<platform::MenuItem>& items) {
        ++menus;
        shown = items;
        return uint32_t(IDM_RATIO_FIRST + 1);
    });
    QTest::mouseClick(window, Qt::RightButton, {}, FullView({60, 60}));
    EXPECT_EQ(menus, 0);

    const Point red = dialog->m_redCentre;
    QTest::mouseClick(window, Qt::RightButton, {}, InDialog(IDC_PREVIEW_PANE, {200, 150}));
    ASSERT_EQ(menus, 1);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, "1:1");
    EXPECT_EQ(shown[1].text, "1:2");
    EXPECT_EQ(shown[2].text, "1:4");
    EXPECT_EQ(shown[0].id, uint32_t(IDM_RATIO_FIRST));
    EXPECT_EQ(shown[2].id, uint32_t(IDM_RATIO_FIRST + 2));
    EXPECT_FALSE(shown[0].checked);
    EXPECT_FALSE(shown[1].checked);
    EXPECT_TRUE(shown[2].checked);
    // The chosen ratio is taken; the boxes stay where they were.
    EXPECT_EQ(dialog->m_scale, 1);
    EXPECT_EQ(dialog->ComboGetCurSel(IDC_RATIO_LIST), 1);
    EXPECT_EQ(dialog->m_redCentre, red);

    QTest::mouseClick(window, Qt::RightButton, {}, InDialog(IDC_PREVIEW_PANE, {200, 150}));
    ASSERT_EQ(menus, 2);
    EXPECT_TRUE(shown[1].checked);
    EXPECT_FALSE(shown[2].checked);
}

TEST_F(FullViewTest, TheStatusLineReadsFullResolutionCoordinatesOfTheImageInBothPanes) {
    const Point red = dialog->m_redCentre;
    Move(FullView(red));
    const Point inFullView = StatusPoint();
    // The same image point in the preview: the red box's centre at 1:4, within the region
    // the preview shows.
    const PaneGeometry mapping = dialog->FullViewMapping();
    const Point atThumbnail = mapping.PaneToSource(red.x, red.y);
    const Point c = ImageFile::ConvertPoint(atThumbnail.x, atThumbnail.y, 3, 2);
    const Rect region = dialog->PreviewRegion();
    platform::Window* preview = dialog->GetDlgItem(IDC_PREVIEW_PANE);
    PaneGeometry geometry;
    geometry.SetUp(preview, preview->GetClientRect(), region);
    const Point inPane = geometry.SourceToPane(c.x - region.left, c.y - region.top);
    Move(InDialog(IDC_PREVIEW_PANE, inPane));
    const Point inPreview = StatusPoint();
    // One full-view pixel is 225 / 133 thumbnail pixels of 8 full-resolution pixels each.
    EXPECT_NEAR(inFullView.x, inPreview.x, 16);
    EXPECT_NEAR(inFullView.y, inPreview.y, 16);
    EXPECT_NEAR(inFullView.x, 900, 20);
    EXPECT_NEAR(inFullView.y, 600, 20);

    // The full view's top-left pixel is the image's; in the preview one pane pixel is four.
    // (0, 0) at 1:8 is (14, 14) at 1:1: each step finer takes v to (v + 1) x 2.
    Move(FullView({0, 28}));
    EXPECT_EQ(Status(), "14 x, 14 y");
    Move(InDialog(IDC_PREVIEW_PANE, {inPane.x + 4, inPane.y}));
    EXPECT_EQ(StatusPoint().x, inPreview.x + 16);
    // Only points of the image are shown; anywhere else the line is empty.
    Move(FullView(dialog->m_redCentre));
    EXPECT_FALSE(Status().empty());
    // Above the thumbnail (the pane's top band is outside the 225 x 150 picture).
    Move(FullView({60, 5}));
    EXPECT_EQ(Status(), "");
    // The last thumbnail pixel reads within the full-resolution image, not past it.
    Move(FullView({132, 115}));
    const Point corner = StatusPoint();
    EXPECT_LE(corner.x, 1799);
    EXPECT_LE(corner.y, 1199);
    // Onto the dialog beside the panes, then out of the window: cleared each time.
    Move(InDialog(IDC_PREVIEW_PANE, {20, 20}));
    EXPECT_FALSE(Status().empty());
    Move(QPoint(widget->width() - 5, 5));
    EXPECT_EQ(Status(), "");
    Move(InDialog(IDC_PREVIEW_PANE, {20, 20}));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &leave);
    EXPECT_EQ(Status(), "");
    // Past the image in the preview: at 1:1 in the bottom-right corner the region reaches
    // beyond the 1800 x 1200 image.
    dialog->SendCommand(IDM_RATIO_FIRST + 0);
    const Rect shown = dialog->FullViewMapping().DisplayedRect();
    dialog->m_redCentre = Point{shown.right - 1, shown.bottom - 1};
    dialog->RefreshPanes();
    ASSERT_GT(dialog->PreviewRegion().right, 1800);
    const Rect client = preview->GetClientRect();
    Move(InDialog(IDC_PREVIEW_PANE, {client.right - 2, client.bottom / 2}));
    EXPECT_EQ(Status(), "");
}

TEST_F(FullViewTest, ThePointerShapeFollowsWhatItIsOver) {
    UseOutputBoxLargerThanRedBox();
    const Point red = dialog->m_redCentre;
    Move(FullView(red));
    EXPECT_TRUE(dialog->m_overRed);
    EXPECT_EQ(platform::GetCursor(), dialog->m_cursorOverRed);
    const Point grip = OutputGrip();
    Move(FullView(grip));
    EXPECT_FALSE(dialog->m_overRed);
    EXPECT_TRUE(dialog->m_overOutput);
    EXPECT_EQ(platform::GetCursor(), dialog->m_cursorOverOutput);
    // The thumbnail's corner: in neither box.
    Move(FullView({1, 30}));
    EXPECT_FALSE(dialog->m_overRed);
    EXPECT_FALSE(dialog->m_overOutput);
    EXPECT_EQ(platform::GetCursor(), dialog->m_cursorPane);
    Move(InDialog(IDC_PREVIEW_PANE, {10, 10}));
    EXPECT_EQ(platform::GetCursor(), dialog->m_cursorPane);
    // Off the panes: the default pointer.
    Move(QPoint(widget->width() / 2, widget->height() - 4));
    EXPECT_FALSE(dialog->m_overPane);
    EXPECT_EQ(platform::GetCursor(), nullptr);

    // Dragging the red box: the closed hand.
    Press(FullView(red));
    Move(FullView({red.x + 1, red.y}));
    EXPECT_TRUE(dialog->m_draggingRed);
    EXPECT_EQ(platform::GetCursor(), dialog->m_cursorDragRed);
    Release(FullView({red.x + 1, red.y}));

    // Dragging the output box: the plain arrow.
    const Point grip2 = OutputGrip();
    Press(FullView(grip2));
    Move(FullView({grip2.x - 1, grip2.y}));
    EXPECT_TRUE(dialog->m_draggingOutput);
    EXPECT_FALSE(dialog->m_overRed);
    EXPECT_EQ(platform::GetCursor(), dialog->m_cursorDragOutput);
    Release(FullView({grip2.x - 1, grip2.y}));
}

TEST_F(FullViewTest, OkAfterADragReturnsTheDraggedCrop) {
    UseOutputBoxLargerThanRedBox();
    const Point target{50, 60};
    Drag(FullView(OutputGrip()), FullView(target));
    ASSERT_EQ(dialog->m_outputCentre, target);
    QTest::mouseClick(platform::WidgetOf(dialog->GetDlgItem(1)), Qt::LeftButton);
    EXPECT_EQ(dialog->EndResult(), 1);
    // (50, 60) in the pane is thumbnail pixel (trunc(50 x 225 / 133), trunc(32 x 225 / 133))
    // = (84, 54) at 1:8, which is (342, 222) at 1:2.
    EXPECT_EQ(choice.output, (Rect{342 - 300, 222 - 200, 342 + 300, 222 + 200}));
    EXPECT_EQ(choice.scale, 1);
}

TEST_F(FullViewTest, MovingTheDialogDoesNotMoveTheBoxes) {
    const Point red = dialog->m_redCentre;
    const Rect before = RedBox();
    widget->move(widget->pos() + QPoint(37, 23));
    QCoreApplication::processEvents();
    dialog->RefreshPanes();
    EXPECT_EQ(dialog->m_redCentre, red);
    EXPECT_EQ(RedBox(), before);
    ExpectRedFrame(before);
}

}  // namespace
