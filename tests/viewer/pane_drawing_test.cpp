// Rasters reaching a pane: the working raster at the pane's scale, the bitmap's own layout
// (bottom-up rows, rows padded to 4 bytes, blue-green-red, a grey ramp) and the pixels that
// land on the pane's surface.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "host/module_load.h"
#include "host/resource_ids.h"
#include "platform/drawing_context.h"
#include "viewer/box_drawing.h"
#include "viewer/dib_display.h"
#include "viewer/pane_geometry.h"
#include "viewer/pixel_raster.h"
#include "viewer/viewer_dialog.h"

namespace {

using platform::Colour;
using platform::Rect;

// A grey value that differs between neighbouring rows and columns.
uint8_t GreyAt(int32_t row, int32_t col) { return static_cast<uint8_t>(row * 7 + col * 3); }

PixelRaster GreyRaster(int32_t rows, int32_t cols) {
    PixelRaster raster(rows, cols, true);
    for (int32_t y = 0; y < rows; ++y) {
        for (int32_t x = 0; x < cols; ++x) raster.Row(y)[x] = GreyAt(y, x);
    }
    return raster;
}

// A stored row of the bitmap, counted from the first byte of its memory.
const uint8_t* StoredRow(const DibDisplay& display, int32_t stored) {
    return display.Bits() + size_t(stored) * size_t(display.Bitmap()->Stride());
}

class PaneDrawingTest : public testing::Test {
  protected:
    void SetUp() override {
        OnModuleAttach(reinterpret_cast<const void*>(&OnModuleAttach));
        // Without an image the dialog never draws into the preview pane itself: the pane is
        // ours to draw on.
        dialog = std::make_unique<ViewerDialog>(nullptr, choice);
        ASSERT_TRUE(dialog->Create());
        pane = dialog->GetDlgItem(IDC_PREVIEW_PANE);
        ASSERT_NE(pane, nullptr);
        face = platform::ButtonFaceColour();
        platform::DrawingContext dc = pane->GetDC();
        dc.FillSolidRect(pane->GetClientRect(), face);
    }

    Colour PanePixel(int32_t x, int32_t y) { return pane->GetDC().GetPixel(x, y); }
    static Colour Grey(uint8_t value) { return Colour{value, value, value}; }

    ViewerChoice choice;
    std::unique_ptr<ViewerDialog> dialog;
    platform::Window* pane = nullptr;
    Colour face;
};

TEST_F(PaneDrawingTest, AtScaleOneTheRasterIsCopiedWholeAndStoredBottomUp) {
    const PixelRaster raster = GreyRaster(100, 100);
    const std::unique_ptr<DibDisplay> display = MakePaneBitmap(raster, 1.0);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->Rows(), 100);  // not cut to a multiple of 4
    EXPECT_EQ(display->Cols(), 100);
    EXPECT_EQ(display->BitsPerPixel(), 8);
    EXPECT_EQ(display->SizeInBytes(), 10000);
    EXPECT_EQ(display->Bitmap()->Stride(), 100);
    for (int32_t y : {0, 1, 50, 99}) {
        for (int32_t x : {0, 13, 99}) {
            EXPECT_EQ(StoredRow(*display, 99 - y)[x], GreyAt(y, x)) << y << ", " << x;
        }
    }

    PaneGeometry geometry;
    geometry.SetUp(pane, Rect{0, 0, 100, 100}, raster.Bounds());
    ASSERT_DOUBLE_EQ(geometry.Scale(), 1.0);
    raster.DrawInPane(geometry);
    EXPECT_EQ(PanePixel(0, 0), Grey(GreyAt(0, 0)));
    EXPECT_EQ(PanePixel(42, 17), Grey(GreyAt(17, 42)));
    EXPECT_EQ(PanePixel(99, 99), Grey(GreyAt(99, 99)));
    EXPECT_EQ(PanePixel(100, 50), face);
    EXPECT_EQ(PanePixel(50, 100), face);
}

TEST_F(PaneDrawingTest, AtHalfScaleTheRasterIsDoubledAndDrawnAtTheCentringOffset) {
    const PixelRaster raster = GreyRaster(100, 100);
    PaneGeometry geometry;
    // A square picture in a 300 x 200 pane: 200 x 200 at scale 0.5, 50 pixels from the left.
    geometry.SetUp(pane, Rect{0, 0, 300, 200}, raster.Bounds());
    ASSERT_DOUBLE_EQ(geometry.Scale(), 0.5);
    ASSERT_EQ(geometry.Offset(), (platform::Point{50, 0}));
    const std::unique_ptr<DibDisplay> display = MakePaneBitmap(raster, geometry.Scale());
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->Rows(), 200);
    EXPECT_EQ(display->Cols(), 200);

    raster.DrawInPane(geometry);
    EXPECT_EQ(PanePixel(49, 10), face);
    EXPECT_EQ(PanePixel(50, 0), Grey(GreyAt(0, 0)));
    EXPECT_EQ(PanePixel(51, 1), Grey(GreyAt(0, 0)));
    EXPECT_EQ(PanePixel(52, 0), Grey(GreyAt(0, 1)));
    EXPECT_EQ(PanePixel(50 + 199, 199), Grey(GreyAt(99, 99)));
    EXPECT_EQ(PanePixel(250, 100), face);
}

TEST_F(PaneDrawingTest, AtScaleThreeEveryThirdPixelIsSampledAndTheSizeCutToFour) {
    const PixelRaster raster = GreyRaster(100, 100);
    const std::unique_ptr<DibDisplay> display = MakePaneBitmap(raster, 3.0);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->Rows(), 32);  // trunc(100 / 3) = 33, cut to 32
    EXPECT_EQ(display->Cols(), 32);
    for (int32_t i = 0; i < 32; ++i) {
        for (int32_t j : {0, 1, 17, 31}) {
            ASSERT_EQ(StoredRow(*display, 31 - i)[j], GreyAt(3 * i, 3 * j)) << i << ", " << j;
        }
    }
    // The same bitmap reaches the pane unscaled.
    PaneGeometry geometry;
    geometry.SetUp(pane, Rect{0, 0, 100, 100}, raster.Bounds());
    DibDisplay* shown = display.get();
    shown->BlitToPane(geometry, 7, 9);
    EXPECT_EQ(PanePixel(7, 9), Grey(GreyAt(0, 0)));
    EXPECT_EQ(PanePixel(7 + 31, 9 + 31), Grey(GreyAt(93, 93)));
    EXPECT_EQ(PanePixel(7 + 32, 9 + 10), face);
    EXPECT_EQ(shown->Bitmap(), nullptr);  // deleted after the blit
}

TEST_F(PaneDrawingTest, AWorkingRasterCutToNothingDrawsNothing) {
    const PixelRaster raster = GreyRaster(7, 30);
    EXPECT_EQ(MakePaneBitmap(raster, 2.0), nullptr);  // trunc(7 / 2) = 3, cut to 0
    PaneGeometry geometry;
    geometry.SetUp(pane, Rect{0, 0, 15, 15}, raster.Bounds());
    ASSERT_DOUBLE_EQ(geometry.Scale(), 2.0);
    raster.DrawInPane(geometry);
    for (int32_t x = 0; x < 16; ++x) EXPECT_EQ(PanePixel(x, 3), face);
    // Scales that are no number, or not positive, draw nothing either.
    EXPECT_EQ(MakePaneBitmap(GreyRaster(8, 8), 0.0), nullptr);
    EXPECT_EQ(MakePaneBitmap(GreyRaster(8, 8), -1.0), nullptr);
    EXPECT_EQ(MakePaneBitmap(GreyRaster(8, 8), std::nan("")), nullptr);
}

TEST_F(PaneDrawingTest, ColourIsStoredBlueGreenRedAndShowsAsItWas) {
    PixelRaster raster(4, 4, false);
    uint8_t* first = raster.Row(0);
    first[0] = 255;  // red
    first[1] = 0;
    first[2] = 0;
    uint8_t* other = raster.Row(2) + 3;
    other[0] = 10;
    other[1] = 20;
    other[2] = 30;
    const std::unique_ptr<DibDisplay> display = MakePaneBitmap(raster, 1.0);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->BitsPerPixel(), 24);
    const uint8_t* top = StoredRow(*display, 3);
    EXPECT_EQ(top[0], 0);
    EXPECT_EQ(top[1], 0);
    EXPECT_EQ(top[2], 255);
    EXPECT_EQ(StoredRow(*display, 1)[3], 30);
    EXPECT_EQ(StoredRow(*display, 1)[5], 10);

    PaneGeometry geometry;
    geometry.SetUp(pane, Rect{0, 0, 4, 4}, raster.Bounds());
    raster.DrawInPane(geometry);
    EXPECT_EQ(PanePixel(0, 0), (Colour{255, 0, 0}));
    EXPECT_EQ(PanePixel(1, 2), (Colour{10, 20, 30}));
    EXPECT_EQ(PanePixel(1, 1), (Colour{0, 0, 0}));
}

TEST_F(PaneDrawingTest, ColourRowsOf101PixelsStartAtMultiplesOf304Bytes) {
    PixelRaster raster(5, 101, false);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 101; ++x) {
            uint8_t* pixel = raster.Row(y) + 3 * x;
            pixel[0] = static_cast<uint8_t>(x);
            pixel[1] = static_cast<uint8_t>(y * 40);
            pixel[2] = static_cast<uint8_t>(255 - x);
        }
    }
    const std::unique_ptr<DibDisplay> display = MakePaneBitmap(raster, 1.0);
    ASSERT_NE(display, nullptr);
    ASSERT_EQ(display->Bitmap()->Stride(), 304);
    for (int32_t y = 0; y < 5; ++y) {
        const uint8_t* stored = StoredRow(*display, 4 - y);
        EXPECT_EQ(stored[3 * 100 + 0], 255 - 100);  // blue first
        EXPECT_EQ(stored[3 * 100 + 1], y * 40);
        EXPECT_EQ(stored[3 * 100 + 2], 100);
    }
    PaneGeometry geometry;
    geometry.SetUp(pane, Rect{0, 0, 101, 101}, raster.Bounds());
    ASSERT_DOUBLE_EQ(geometry.Scale(), 1.0);
    raster.DrawInPane(geometry);
    const int32_t top = geometry.Offset().y;
    // Every column stays under the one above it.
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x : {0, 1, 50, 100}) {
            EXPECT_EQ(PanePixel(x, top + y),
                      (Colour{static_cast<uint8_t>(x), static_cast<uint8_t>(y * 40),
                              static_cast<uint8_t>(255 - x)}))
                << x << ", " << y;
        }
    }
}

TEST_F(PaneDrawingTest, OddRowCountsKeepTheirMiddleRowAndGreyUsesTheRamp) {
    const PixelRaster raster = GreyRaster(5, 8);
    const std::unique_ptr<DibDisplay> display = MakePaneBitmap(raster, 1.0);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(StoredRow(*display, 2)[5], GreyAt(2, 5));
    EXPECT_EQ(StoredRow(*display, 0)[5], GreyAt(4, 5));
    EXPECT_EQ(display->Bitmap()->PixelRgb(5, 4),
              uint32_t(GreyAt(4, 5)) * 0x010101u);  // index k shows grey k
}

TEST_F(PaneDrawingTest, WithoutAWindowNothingIsDrawn) {
    const PixelRaster raster = GreyRaster(16, 16);
    PaneGeometry geometry;
    geometry.SetUp(nullptr, Rect{0, 0, 16, 16}, raster.Bounds());
    raster.DrawInPane(geometry);
    EXPECT_EQ(PanePixel(0, 0), face);
    EXPECT_EQ(WorkingLength(100, 1.0), 100);
    EXPECT_EQ(WorkingLength(100, 0.3), 332);  // trunc(333.3) cut to 332
}

TEST_F(PaneDrawingTest, OutlinesAndDashes) {
    platform::DrawingContext dc = pane->GetDC();
    dc.SelectPen(Colour{0, 0, 0});
    OutlineRect(dc, 10, 10, 40, 30);
    dc.SelectPen(Colour{255, 255, 255});
    DashedRect(dc, 10, 10, 40, 30);
    dc.Release();
    const Colour white{255, 255, 255};
    const Colour black{0, 0, 0};
    // Top edge from the top-left corner: three white, three black, three white, ...
    for (int32_t x = 10; x < 40; ++x) {
        EXPECT_EQ(PanePixel(x, 10), ((x - 10) / 3) % 2 == 0 ? white : black) << x;
    }
    // The right edge starts its own dashes at its first corner, going down; its 20 pixels
    // make 6 whole steps, so the last two pixels stay black.
    for (int32_t y = 10; y < 28; ++y) {
        EXPECT_EQ(PanePixel(40, y), ((y - 10) / 3) % 2 == 0 ? white : black) << y;
    }
    EXPECT_EQ(PanePixel(40, 28), black);
    EXPECT_EQ(PanePixel(40, 29), black);
    // The bottom edge runs right to left from (40, 30).
    EXPECT_EQ(PanePixel(40, 30), white);
    EXPECT_EQ(PanePixel(38, 30), white);
    EXPECT_EQ(PanePixel(37, 30), black);
    EXPECT_EQ(PanePixel(25, 20), face);
}

}  // namespace
