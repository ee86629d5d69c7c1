// The full view's thumbnail read a strip at a time: the same pixels as the whole thumbnail
// drawn at the pane's scale, and no picture for an image too wide to hold one row of.
#include "viewer/pane_thumbnail.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/host/test_images.h"
#include "viewer/dib_display.h"
#include "viewer/image_file.h"
#include "viewer/pane_geometry.h"
#include "viewer/pixel_raster.h"

namespace {

// The whole thumbnail reduced as drawing it into a pane of paneWidth x paneHeight does.
std::unique_ptr<PixelRaster> WholeThumbnailReduced(const ImageFile& image,
                                                   const PaneGeometry& geometry) {
    std::unique_ptr<PixelRaster> whole = image.ReadThumbnail();
    if (whole == nullptr) return nullptr;
    const double scale = geometry.Scale();
    auto reduced = std::make_unique<PixelRaster>(
        WorkingLength(whole->Rows(), scale), WorkingLength(whole->Cols(), scale), whole->IsGrey());
    if (scale == 1.0) {
        *reduced = *whole;
    } else {
        whole->ScaledCopyTo(*reduced, scale);
    }
    return reduced;
}

bool SamePixels(const PixelRaster& a, const PixelRaster& b) {
    if (a.Rows() != b.Rows() || a.Cols() != b.Cols() || a.Channels() != b.Channels()) return false;
    for (int32_t y = 0; y < a.Rows(); ++y) {
        if (std::memcmp(a.Row(y), b.Row(y), size_t(a.Cols()) * size_t(a.Channels())) != 0)
            return false;
    }
    return true;
}

TEST(PaneThumbnailTest, StripsGiveThePixelsOfTheWholeThumbnailAtThePanesScale) {
    kavel_test::TempDir dir;
    const struct {
        int32_t planes, levels, width, height, thumbnailScale, paneWidth, paneHeight;
    } cases[] = {
        {3, 3, 301, 203, 1, 133, 133},  // reduced
        {1, 3, 301, 203, 2, 300, 300},  // enlarged
        {3, 2, 120, 90, 0, 120, 120},   // one image pixel per pane pixel
        {1, 0, 288, 1400, 0, 20, 20},   // needed rows further apart than a strip's gap
        {3, 1, 200, 600, 0, 133, 133},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const std::string path =
            MakeKavelFile(dir, std::to_string(c.width) + "x" + std::to_string(c.height) + ".kvl",
                          c.planes, c.levels, c.width, c.height, 3);
        ImageFile image(path.c_str());
        image.SetLevelCount(c.thumbnailScale);
        PaneGeometry geometry;
        geometry.SetUp(nullptr, platform::Rect{0, 0, c.paneWidth, c.paneHeight},
                       image.GetBoundsAtScale(c.thumbnailScale));
        const std::unique_ptr<PixelRaster> strips = ReadPaneThumbnail(image, geometry);
        const std::unique_ptr<PixelRaster> whole = WholeThumbnailReduced(image, geometry);
        ASSERT_NE(strips, nullptr);
        ASSERT_NE(whole, nullptr);
        EXPECT_GT(strips->Rows(), 0);
        EXPECT_TRUE(SamePixels(*strips, *whole));
    }
}

TEST(PaneThumbnailTest, AnImageTooWideToHoldARowOfIsNotRead) {
    kavel_test::TempDir dir;
    // One row at full resolution is 3 x 6 million bytes, over the 16 MB a strip may hold.
    ImageFile wide(MakeHeaderOnlyFile(dir, "wide.kvl", 3, 0, 6000000, 4).c_str());
    PaneGeometry geometry;
    geometry.SetUp(nullptr, platform::Rect{0, 0, 133, 133}, wide.GetBoundsAtScale(0));
    EXPECT_EQ(ReadPaneThumbnail(wide, geometry), nullptr);

    // A header that claims 23170 x 23170 grey pixels in no levels (and holds nothing): read
    // a strip at a time, black, at the pane's size.
    ImageFile claimed(MakeHeaderOnlyFile(dir, "claimed.kvl", 1, 0, 23170, 23170).c_str());
    geometry.SetUp(nullptr, platform::Rect{0, 0, 133, 133}, claimed.GetBoundsAtScale(0));
    const std::unique_ptr<PixelRaster> black = ReadPaneThumbnail(claimed, geometry);
    ASSERT_NE(black, nullptr);
    EXPECT_EQ(black->Rows(), 132);
    EXPECT_EQ(black->Cols(), 132);
    EXPECT_EQ(black->Row(100)[100], 0);
}

}  // namespace
