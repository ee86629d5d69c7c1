// The viewer's texts and rules that need no window.
#include "viewer/viewer_settings.h"

#include <gtest/gtest.h>

#include "viewer/image_file.h"
#include "tests/host/test_images.h"

namespace {

TEST(ViewerSettingsTest, RatioEntries) {
    EXPECT_EQ(RatioEntryText(0, 4000, 3000), "1:1        4000 X 3000");
    EXPECT_EQ(RatioEntryText(1, 2000, 1500), "1:2        2000 X 1500");
    EXPECT_EQ(RatioEntryText(3, 500, 375), "1:8        500 X 375");
    EXPECT_EQ(RatioEntryText(4, 250, 188), "1:16      250 X 188");
    EXPECT_EQ(RatioDenominator(10), 1024);
}

TEST(ViewerSettingsTest, MemoryEstimates) {
    EXPECT_EQ(MemoryEstimateSuffix(640.0 * 480 * 3), "(900K)");
    EXPECT_EQ(MemoryEstimateSuffix(640.0 * 480 * 1), "(300K)");
    EXPECT_EQ(MemoryEstimateSuffix(1000.0 * 1000), "(976K)");
    EXPECT_EQ(MemoryEstimateSuffix(1024.0 * 1000), "(0.98M)");
    EXPECT_EQ(MemoryEstimateSuffix(1024.0 * 1024 * 3), "(3.00M)");
    EXPECT_EQ(MemoryEstimateSuffix(3000.0 * 3000 * 3), "(  25.75M !!!)");
    EXPECT_EQ(CaptionWithoutEstimate("Output Image  (900K)"), "Output Image  ");
    EXPECT_EQ(CaptionWithoutEstimate("Output Image  "), "Output Image  ");
}

TEST(ViewerSettingsTest, FullViewCaptionShowsShortPathsWholeAndLongOnesByName) {
    EXPECT_EQ(FullViewCaption("C:\\kv\\photo.kvl"), "C:\\kv\\photo.kvl");
    EXPECT_EQ(FullViewCaption("C:\\pictures\\holiday\\photo.kvl"), "photo.kvl");
    EXPECT_EQ(FullViewCaption("/home/someone/pictures/photo.kvl"), "photo.kvl");
    EXPECT_EQ(FullViewCaption("/home/someone/pictures/"), "/home/someone/pictures/");
    EXPECT_EQ(FullViewCaption("a-long-name-without-separators.kvl"),
              "a-long-name-without-separators.kvl");
}

TEST(ViewerSettingsTest, ThumbnailScaleIsTheCoarsestThatStillExceedsThePane) {
    kavel_test::TempDir dir;
    const ImageFile large(MakeHeaderOnlyFile(dir, "a.kvl", 3, 5, 4000, 3000).c_str());
    EXPECT_EQ(ChooseThumbnailScale(large, 133, 144), 4);  // 250 x 188 at scale 4
    const ImageFile fits(MakeHeaderOnlyFile(dir, "b.kvl", 3, 3, 100, 100).c_str());
    EXPECT_EQ(ChooseThumbnailScale(fits, 133, 144), 3);
    const ImageFile justOver(MakeHeaderOnlyFile(dir, "c.kvl", 3, 2, 200, 100).c_str());
    EXPECT_EQ(ChooseThumbnailScale(justOver, 133, 144), 0);
}

}  // namespace
