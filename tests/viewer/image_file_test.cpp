// ImageFile: sizes at each scale, conversions between scales, and region reads.
#include "viewer/image_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/message_box.h"
#include "tests/host/test_images.h"
#include "viewer/pixel_raster.h"

namespace {

using platform::Point;
using platform::Rect;

TEST(ImageFileTest, SizesAtEachScale) {
    kavel_test::TempDir dir;
    const ImageFile image(MakeHeaderOnlyFile(dir, "h.kvl", 1, 2, 101, 75).c_str());
    EXPECT_EQ(image.GetPlaneCount(), 1);
    EXPECT_EQ(image.GetLevelCount(), 2);
    EXPECT_EQ(image.GetBoundsAtScale(0), (Rect{0, 0, 101, 75}));
    EXPECT_EQ(image.GetBoundsAtScale(1), (Rect{0, 0, 51, 38}));
    EXPECT_EQ(image.GetBoundsAtScale(2), (Rect{0, 0, 26, 19}));
    EXPECT_EQ(image.GetWidthAtScale(-3), 101);
    EXPECT_EQ(image.GetWidthAtScale(40), 1);
    EXPECT_EQ(image.GetWidthAtScale(INT32_MAX), 1);
}

TEST(ImageFileTest, ConversionsBetweenScales) {
    EXPECT_EQ(ImageFile::ConvertPoint(9, 10, 0, 1), (Point{5, 5}));
    EXPECT_EQ(ImageFile::ConvertPoint(5, 5, 1, 0), (Point{12, 12}));
    EXPECT_EQ(ImageFile::ConvertPoint(5, 5, 2, 0), (Point{26, 26}));
    EXPECT_EQ(ImageFile::ConvertPoint(25, 20, 2, 0), (Point{106, 86}));
    EXPECT_EQ(ImageFile::ConvertPoint(7, -3, 3, 3), (Point{7, -3}));
    EXPECT_EQ(ImageFile::ConvertRect(0, 0, 100, 80, 0, 2), (Rect{0, 0, 25, 20}));
    // Far beyond the integers: saturates instead of overflowing.
    EXPECT_EQ(ImageFile::ConvertPoint(1000, 1000, 60, 0).x, INT32_MAX);
}

TEST(ImageFileTest, UnreadableFileBeepsAndReportsNoPlanes) {
    kavel_test::TempDir dir;
    platform::ClearMessageLog();
    const ImageFile missing(dir.path("missing.kvl").c_str());
    EXPECT_EQ(missing.GetPlaneCount(), 0);
    EXPECT_EQ(platform::BeepCount(), 1);
    const std::string tooLong(300, 'a');
    const ImageFile longPath(tooLong.c_str());
    EXPECT_EQ(longPath.GetPlaneCount(), 0);
    EXPECT_EQ(platform::BeepCount(), 2);
    EXPECT_EQ(longPath.ReadRegion(0, 0, 4, 4, 0), nullptr);
}

TEST(ImageFileTest, ReadRegionDecodesTheRectangleAtTheScale) {
    kavel_test::TempDir dir;
    const std::string path = MakeKavelFile(dir, "c.kvl", 3, 2, 200, 150);
    const ImageFile image(path.c_str());
    const auto raster = image.ReadRegion(10, 20, 74, 68, 1);
    ASSERT_NE(raster, nullptr);
    EXPECT_EQ(raster->Rows(), 48);
    EXPECT_EQ(raster->Cols(), 64);
    const std::vector<uint8_t> expected = LibraryDecode(path, 1, 10, 20, 73, 67, 3);
    ASSERT_EQ(expected.size(), size_t(48) * 64 * 3);
    EXPECT_EQ(0, std::memcmp(raster->Pixels(), expected.data(), expected.size()));

    // Partly beyond the image at scale 1 (100 x 75): the outside is black.
    const auto edge = image.ReadRegion(90, 70, 110, 80, 1);
    ASSERT_NE(edge, nullptr);
    EXPECT_EQ(edge->Row(9)[3 * 15], 0);
    EXPECT_EQ(edge->Row(2)[3 * 12 + 1], 0);
}

TEST(ImageFileTest, LoweredLevelCountLimitsTheReads) {
    kavel_test::TempDir dir;
    ImageFile image(MakeKavelFile(dir, "g.kvl", 1, 3, 120, 80).c_str());
    image.SetLevelCount(1);
    const auto thumbnail = image.ReadThumbnail();
    ASSERT_NE(thumbnail, nullptr);
    EXPECT_EQ(thumbnail->Bounds(), (Rect{0, 0, 60, 40}));
    EXPECT_TRUE(thumbnail->IsGrey());
    EXPECT_EQ(image.ReadRegion(0, 0, 8, 8, 2), nullptr);
    EXPECT_EQ(image.ReadRegion(0, 0, 8, 8, -1), nullptr);
    EXPECT_EQ(image.ReadRegion(8, 8, 8, 16, 0), nullptr);  // empty

    std::vector<uint8_t> buffer(257 * 257, 0xAB);
    EXPECT_TRUE(image.ReadRegionInto(256, 0, 0, 256, 256, -1, buffer.data()));
    EXPECT_EQ(buffer[0], 0xAB);  // nothing read at a negative scale
    // A scale beyond the level count is read at the level count, never left as it was.
    EXPECT_TRUE(image.ReadRegionInto(256, 0, 0, 256, 256, 2, buffer.data()));
    std::vector<uint8_t> atLevelCount(257 * 257, 0x11);
    EXPECT_TRUE(image.ReadRegionInto(256, 0, 0, 256, 256, 1, atLevelCount.data()));
    // (The window's 257 rows of 257 pixels, 256 apart, end 256 bytes short of the buffer.)
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 257 * 256, atLevelCount.begin()));
}

TEST(ImageFileTest, TileBeyondTheImageIsAllZeros) {
    kavel_test::TempDir dir;
    const ImageFile image(MakeKavelFile(dir, "c.kvl", 3, 1, 100, 100).c_str());
    std::vector<uint8_t> buffer(3 * 257 * 257, 0xAB);
    EXPECT_TRUE(image.ReadRegionInto(256, 300, 0, 556, 256, 0, buffer.data()));
    for (size_t i = 0; i < size_t(257) * 256 * 3; ++i) ASSERT_EQ(buffer[i], 0) << i;
}

}  // namespace
