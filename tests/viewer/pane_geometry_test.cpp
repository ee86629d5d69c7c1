// Fitting a picture into a pane, and the picture's pixels and rasters.
#include "viewer/pane_geometry.h"

#include <gtest/gtest.h>

#include "platform/drawing_context.h"
#include "viewer/pixel_raster.h"

namespace {

using platform::Point;
using platform::Rect;

TEST(PaneGeometryTest, LandscapePictureFitsTheWidthAndIsCentredVertically) {
    PaneGeometry geometry;
    geometry.SetUp(nullptr, Rect{0, 0, 200, 150}, Rect{0, 0, 1000, 500});
    EXPECT_EQ(geometry.FitRect(), (Rect{0, 0, 200, 75}));
    EXPECT_DOUBLE_EQ(geometry.Scale(), 5.0);
    EXPECT_EQ(geometry.Offset(), (Point{0, 25}));
    EXPECT_EQ(geometry.PaneToSource(10, 35), (Point{50, 50}));
    EXPECT_EQ(geometry.SourceToPane(50, 50), (Point{10, 35}));
    EXPECT_EQ(geometry.DisplayedRect(), (Rect{0, 25, 200, 125}));
    EXPECT_EQ(geometry.SourceLengthToPane(52), 10);
}

TEST(PaneGeometryTest, SquareAndPortraitPictures) {
    PaneGeometry square;
    square.SetUp(nullptr, Rect{0, 0, 200, 150}, Rect{0, 0, 400, 400});
    EXPECT_EQ(square.FitRect(), (Rect{0, 0, 150, 150}));
    EXPECT_DOUBLE_EQ(square.Scale(), 400.0 / 150.0);
    EXPECT_EQ(square.Offset(), (Point{25, 0}));

    PaneGeometry portrait;
    portrait.SetUp(nullptr, Rect{0, 0, 100, 100}, Rect{0, 0, 50, 200});
    EXPECT_EQ(portrait.FitRect(), (Rect{0, 0, 25, 100}));
    EXPECT_DOUBLE_EQ(portrait.Scale(), 2.0);
    EXPECT_EQ(portrait.Offset(), (Point{37, 0}));
}

TEST(PaneGeometryTest, WithoutAWindowPointsPassUnchanged) {
    PaneGeometry geometry;
    geometry.SetUp(nullptr, Rect{0, 0, 10, 10}, Rect{0, 0, 0, 0});  // empty picture
    EXPECT_DOUBLE_EQ(geometry.Scale(), 1.0);
    EXPECT_EQ(geometry.ScreenToPane({3, 4}), (Point{3, 4}));
    EXPECT_EQ(geometry.PaneToScreen({3, 4}), (Point{3, 4}));
    EXPECT_EQ(geometry.WindowScreenRect(), (Rect{}));
    EXPECT_FALSE(geometry.DrawingContext().IsValid());
}

TEST(PixelRasterTest, NewRasterIsBlackWithASpareRowAndColumn) {
    PixelRaster colour(7, 30, false);
    EXPECT_EQ(colour.Channels(), 3);
    EXPECT_EQ(colour.BitsPerPixel(), 24);
    EXPECT_EQ(colour.PixelBytes(), size_t(8 * 31 * 3));
    EXPECT_EQ(colour.Row(1) - colour.Row(0), 90);
    for (size_t i = 0; i < colour.PixelBytes(); ++i) ASSERT_EQ(colour.Pixels()[i], 0);
    const PixelRaster empty(-4, 3, true);
    EXPECT_EQ(empty.Bounds(), (Rect{0, 0, 3, 0}));
}

TEST(PixelRasterTest, ScaledCopySamplesTopLeftAndAssignmentCopies) {
    PixelRaster source(100, 100, true);
    for (int32_t row = 0; row < 100; ++row) {
        for (int32_t column = 0; column < 100; ++column)
            source.Row(row)[column] = uint8_t(row + column);
    }
    PixelRaster reduced(32, 32, true);
    source.ScaledCopyTo(reduced, 3.0);
    EXPECT_EQ(reduced.Row(1)[0], 3);
    EXPECT_EQ(reduced.Row(31)[31], 186);  // rows and columns 93
    PixelRaster enlarged(200, 200, true);
    source.ScaledCopyTo(enlarged, 0.5);
    EXPECT_EQ(enlarged.Row(199)[1], 99);

    PixelRaster copy(1, 1, true);
    copy = source;
    EXPECT_EQ(copy.Bounds(), source.Bounds());
    EXPECT_EQ(copy.Row(50)[7], 57);
    PixelRaster resized(copy);
    resized.Resize(2, 2);
    EXPECT_EQ(resized.Row(0)[0], 0);
    EXPECT_EQ(resized.Row(1)[1], 0);
}

}  // namespace
