// The read cycle: what start tells the host, how continue hands over the tiles, and how the
// failures of the host and of the file end a read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "host/module_load.h"
#include "host/plugin_app.h"
#include "platform/message_box.h"
#include "tests/host/recording_host.h"
#include "tests/host/test_images.h"

namespace {

class ReadCycleTest : public testing::Test {
  protected:
    void SetUp() override { OnModuleAttach(reinterpret_cast<const void*>(&OnModuleAttach)); }

    // An application object reading path, with the region and scale set as the dialog would.
    void Open(const std::string& path, int32_t left, int32_t top, int32_t right, int32_t bottom,
              int32_t scale) {
        app.image = std::make_unique<ImageFile>(path.c_str());
        app.left = left;
        app.top = top;
        app.right = right;
        app.bottom = bottom;
        app.scale = scale;
    }

    kavel_test::TempDir dir;
    RecordingHost host;
    PluginApp app;
};

TEST_F(ReadCycleTest, StartDescribesGreyAndColourImages) {
    Open(MakeKavelFile(dir, "grey.kvl", 1, 1, 40, 30), 0, 0, 40, 30, 0);
    EXPECT_EQ(app.DoReadStart(&host.format), 0);
    EXPECT_EQ(host.format.imageMode, plugInModeGrayScale);
    EXPECT_EQ(host.format.planes, 1);
    EXPECT_EQ(host.format.loPlane, 0);
    EXPECT_EQ(host.format.hiPlane, 0);
    EXPECT_EQ(host.format.colBytes, 1);
    EXPECT_EQ(host.format.rowBytes, 256);
    EXPECT_EQ(host.format.depth, 8);
    EXPECT_EQ(host.format.planeBytes, 1);
    EXPECT_EQ(host.format.imageSize.v, 30);
    EXPECT_EQ(host.format.imageSize.h, 40);
    EXPECT_EQ(host.format.imageHRes, 0x00480000);
    EXPECT_EQ(host.format.imageVRes, 0x00480000);

    Open(MakeKavelFile(dir, "colour.kvl", 3, 1, 40, 30), 5, 6, 25, 16, 0);
    app.SetResolution(300);
    EXPECT_EQ(app.DoReadStart(&host.format), 0);
    EXPECT_EQ(host.format.imageMode, plugInModeRGBColor);
    EXPECT_EQ(host.format.planes, 3);
    EXPECT_EQ(host.format.hiPlane, 2);
    EXPECT_EQ(host.format.colBytes, 3);
    EXPECT_EQ(host.format.rowBytes, 768);
    EXPECT_EQ(host.format.imageSize.v, 10);
    EXPECT_EQ(host.format.imageSize.h, 20);
    EXPECT_EQ(host.format.imageHRes, 0x012C0000);
}

TEST_F(ReadCycleTest, RegionOf1000By600GoesOutAsTwelveTilesInRows) {
    Open(MakeKavelFile(dir, "small.kvl", 1, 0, 64, 64), 0, 0, 1000, 600, 0);
    app.DoReadStart(&host.format);
    EXPECT_EQ(app.DoReadContinue(&host.format), 0);
    ASSERT_EQ(host.tiles.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        const HostRect16& rect = host.tiles[i].rect;
        EXPECT_EQ(rect.left, int16_t(256 * (i % 4))) << i;
        EXPECT_EQ(rect.top, int16_t(256 * (i / 4))) << i;
        EXPECT_EQ(rect.right, rect.left + 256) << i;
        EXPECT_EQ(rect.bottom, rect.top + 256) << i;
        EXPECT_EQ(host.progress[i], std::make_pair(int32_t(i + 1), 12)) << i;
    }
    EXPECT_EQ(host.tiles[11].rect.left, 768);
    EXPECT_EQ(host.tiles[11].rect.right, 1024);
    EXPECT_EQ(host.tiles[11].rect.top, 512);
    EXPECT_EQ(host.tiles[11].rect.bottom, 768);
    EXPECT_EQ(host.allocations, 1);
    EXPECT_EQ(host.frees, 1);
    EXPECT_TRUE(host.format.data == nullptr);  // by value: the field is packed
    EXPECT_EQ(app.DoReadFinish(&host.format), 0);
}

TEST_F(ReadCycleTest, CropInTheMiddleIsRelativeToTheRegionAndHoldsTheDecodedPixels) {
    const std::string path = MakeKavelFile(dir, "colour.kvl", 3, 2, 400, 300);
    Open(path, 100, 50, 400, 300, 0);
    app.DoReadStart(&host.format);
    ASSERT_EQ(app.DoReadContinue(&host.format), 0);
    ASSERT_EQ(host.tiles.size(), 2u * 1u);
    EXPECT_EQ(host.tiles[0].rect.left, 0);
    EXPECT_EQ(host.tiles[0].rect.top, 0);
    EXPECT_EQ(host.tiles[1].rect.left, 256);
    EXPECT_EQ(host.tiles[1].rect.top, 0);

    // The first tile is the window (100, 50)..(356, 306) of the image, 768 bytes a row.
    const std::vector<uint8_t> expected = LibraryDecode(path, 0, 100, 50, 355, 299, 3);
    ASSERT_EQ(expected.size(), size_t(250) * 256 * 3);
    for (size_t row = 0; row < 250; ++row) {
        ASSERT_EQ(0, std::memcmp(host.tiles[0].bytes.data() + row * 768,
                                 expected.data() + row * 768, 768))
            << "row " << row;
    }
}

TEST_F(ReadCycleTest, RefusedFirstTileStopsTheReadAndIsTheResult) {
    Open(MakeKavelFile(dir, "small.kvl", 1, 0, 64, 64), 0, 0, 1000, 600, 0);
    host.failAdvanceAt = 1;
    app.DoReadStart(&host.format);
    EXPECT_EQ(app.DoReadContinue(&host.format), -128);
    EXPECT_EQ(host.tiles.size(), 1u);
    ASSERT_EQ(host.progress.size(), 1u);
    EXPECT_EQ(host.progress[0], std::make_pair(1, 12));
    EXPECT_EQ(host.frees, 1);
    EXPECT_TRUE(host.format.data == nullptr);  // by value: the field is packed
    EXPECT_EQ(app.DoReadFinish(&host.format), -128);
}

TEST_F(ReadCycleTest, UnusableBufferSuiteDeliversNothing) {
    Open(MakeKavelFile(dir, "small.kvl", 1, 0, 64, 64), 0, 0, 64, 64, 0);
    app.DoReadStart(&host.format);

    host.format.bufferProcs = nullptr;
    EXPECT_EQ(app.DoReadContinue(&host.format), memFullErr);

    host.format.bufferProcs = &host.suite;
    host.suite.bufferProcsVersion = 3;
    EXPECT_EQ(app.DoReadContinue(&host.format), memFullErr);

    host.suite.bufferProcsVersion = 2;
    host.suite.spaceProc = nullptr;
    EXPECT_EQ(app.DoReadContinue(&host.format), memFullErr);

    EXPECT_TRUE(host.tiles.empty());
    EXPECT_TRUE(host.progress.empty());
    EXPECT_EQ(host.allocations, 0);
    EXPECT_TRUE(host.format.data == nullptr);  // by value: the field is packed
    EXPECT_EQ(app.DoReadFinish(&host.format), memFullErr);
}

TEST_F(ReadCycleTest, ScaleBeyondWhatTheFileObjectReadsIsReadAtItsCoarsestScale) {
    const std::string path = MakeKavelFile(dir, "small.kvl", 3, 2, 64, 64);
    Open(path, 0, 0, 16, 16, 2);
    app.image->SetLevelCount(1);
    app.DoReadStart(&host.format);
    ASSERT_EQ(app.DoReadContinue(&host.format), 0);
    ASSERT_EQ(host.tiles.size(), 1u);
    // Not black: the tile holds the image at scale 1 (32 x 32, zeros beyond it).
    const std::vector<uint8_t> expected = LibraryDecode(path, 1, 0, 0, 31, 31, 3);
    for (int32_t y = 0; y < 32; ++y) {
        ASSERT_TRUE(std::equal(expected.begin() + y * 96, expected.begin() + (y + 1) * 96,
                               host.tiles[0].bytes.begin() + y * 768))
            << y;
    }
}

// The image keeps the file it opened: removing the name (or moving another file over it)
// before delivery changes nothing.
TEST_F(ReadCycleTest, FileRemovedBeforeDeliveryIsStillRead) {
    const std::string path = MakeKavelFile(dir, "gone.kvl", 1, 0, 64, 64);
    Open(path, 0, 0, 64, 64, 0);
    std::remove(path.c_str());
    app.DoReadStart(&host.format);
    EXPECT_EQ(app.DoReadContinue(&host.format), 0);
    EXPECT_FALSE(host.tiles.empty());
}

// The file the image holds rewritten with three planes: the grey buffers are not written with
// colour pixels; the read fails.
TEST_F(ReadCycleTest, FileRewrittenWithAnotherHeaderBeforeDeliveryIsAReadError) {
    const std::string path = MakeKavelFile(dir, "changed.kvl", 1, 0, 64, 64);
    const std::string colour = MakeKavelFile(dir, "colour.kvl", 3, 0, 64, 64);
    Open(path, 0, 0, 64, 64, 0);
    std::ifstream in(colour, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;  // the same file, rewritten
    app.DoReadStart(&host.format);
    EXPECT_EQ(app.DoReadContinue(&host.format), readErr);
    EXPECT_TRUE(host.tiles.empty());
    EXPECT_EQ(host.frees, 1);
}

TEST_F(ReadCycleTest, TileRectanglesOfAVeryTallRegionStayWithin16Bits) {
    Open(MakeKavelFile(dir, "small.kvl", 1, 0, 8, 8), 0, 0, 1, 32766, 0);
    app.DoReadStart(&host.format);
    ASSERT_EQ(app.DoReadContinue(&host.format), 0);
    ASSERT_EQ(host.tiles.size(), 128u);
    EXPECT_EQ(host.tiles.back().rect.top, 32512);
    EXPECT_EQ(host.tiles.back().rect.bottom, 32767);
}

}  // namespace
