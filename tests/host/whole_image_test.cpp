// What the read cycle delivers after the viewer dialog: with Max, or with the initial crop
// when the image at the chosen ratio is no larger than it, exactly the whole image at that
// scale; any other crop lies wholly inside the image. Over images of awkward sizes and every
// ratio the list offers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "host/entry_point.h"
#include "host/module_load.h"
#include "host/plugin_app.h"
#include "host/resource_ids.h"
#include "platform/dialog_automation.h"
#include "platform/message_box.h"
#include "tests/host/recording_host.h"
#include "tests/host/test_images.h"
#include "viewer/image_file.h"
#include "viewer/viewer_dialog.h"

namespace {

struct Delivered {
    platform::Rect region{};  // at the chosen scale
    int32_t scale = -1;
    int32_t thumbnailScale = -1;  // the level count the dialog left
    std::vector<uint8_t> pixels;  // rows of planes x width bytes
};

int16_t Call(RecordingHost& host, int16_t selector) {
    int16_t result = 0;
    int32_t data = 0;
    ENTRYPOINT(selector, &host.format, &data, &result);
    return result;
}

// One read cycle through the entry point. With max, the dialog selects ratio and presses
// Max, then OK; without, ratio is the saved scale the dialog opens at (none when negative)
// and OK takes the initial values.
Delivered ReadThroughDialog(const std::string& path, int32_t planes, int32_t ratio, bool max) {
    if (!max && ratio >= 0) {
        gPluginApp = new PluginApp();
        gPluginApp->scale = ratio;
    }
    platform::SetModalHook([ratio, max](platform::Dialog& dialog) {
        if (max) {
            dialog.ComboSetCurSel(IDC_RATIO_LIST, ratio);
            dialog.SendCommand(platform::MAKEWPARAM(IDC_RATIO_LIST, platform::CBN_SELCHANGE));
            dialog.SendCommand(platform::MAKEWPARAM(IDC_MAX, platform::BN_CLICKED));
        }
        dialog.SendCommand(platform::MAKEWPARAM(platform::IDOK, platform::BN_CLICKED));
    });
    RecordingHost host;
    host.SetFile(path);
    Delivered delivered;
    EXPECT_EQ(Call(host, formatSelectorReadPrepare), 0);
    platform::SetModalHook(nullptr);
    if (gPluginApp == nullptr) return delivered;
    delivered.region = {gPluginApp->left, gPluginApp->top, gPluginApp->right, gPluginApp->bottom};
    delivered.scale = gPluginApp->scale;
    delivered.thumbnailScale = gPluginApp->image->GetLevelCount();
    EXPECT_EQ(Call(host, formatSelectorReadStart), 0);
    EXPECT_EQ(Call(host, formatSelectorReadContinue), 0);
    Call(host, formatSelectorReadFinish);

    const int32_t width = delivered.region.Width();
    const int32_t height = delivered.region.Height();
    delivered.pixels.assign(size_t(width) * size_t(height) * size_t(planes), 0);
    for (const RecordedTile& tile : host.tiles) {
        for (int32_t y = 0; y < 256 && tile.rect.top + y < height; ++y) {
            const int32_t columns = std::min(256, width - tile.rect.left);
            std::memcpy(delivered.pixels.data() +
                            (size_t(tile.rect.top + y) * size_t(width) + size_t(tile.rect.left)) *
                                size_t(planes),
                        tile.bytes.data() + size_t(y) * 256 * size_t(planes),
                        size_t(columns) * size_t(planes));
        }
    }
    return delivered;
}

// The delivered region lies inside the image at its scale; with wholeImage it is the image;
// the tiles hold exactly what the library decodes there.
void ExpectDelivered(const Delivered& got, const std::string& path, int32_t planes,
                     bool wholeImage) {
    const ImageFile image(path.c_str());
    const int32_t width = image.GetWidthAtScale(got.scale);
    const int32_t height = image.GetHeightAtScale(got.scale);
    EXPECT_GE(got.region.left, 0);
    EXPECT_GE(got.region.top, 0);
    EXPECT_LE(got.region.right, width);
    EXPECT_LE(got.region.bottom, height);
    if (wholeImage) {
        EXPECT_EQ(got.region, (platform::Rect{0, 0, width, height}));
    } else {
        // The initial crop, cut to the image, never shrunk further.
        EXPECT_EQ(got.region.Width(), std::min(width, 640));
        EXPECT_EQ(got.region.Height(), std::min(height, 480));
    }
    const std::vector<uint8_t> expected =
        LibraryDecode(path, got.scale, got.region.left, got.region.top, got.region.right - 1,
                      got.region.bottom - 1, planes);
    EXPECT_TRUE(expected == got.pixels);
}

TEST(WholeImageTest, MaxAndTheInitialCropDeliverExactlyTheImage) {
    OnModuleAttach(reinterpret_cast<const void*>(&OnModuleAttach));
    kavel_test::TempDir dir;
    const struct {
        int32_t planes, levels, width, height;
    } shapes[] = {
        {1, 0, 1, 1},   {3, 2, 40, 30},    {1, 3, 333, 257},
        {3, 2, 71, 45}, {1, 2, 4000, 300}, {1, 2, 300, 4000},
    };
    for (const auto& shape : shapes) {
        const std::string name = std::to_string(shape.width) + "x" + std::to_string(shape.height);
        SCOPED_TRACE(name);
        const std::string path = MakeKavelFile(dir, name + ".kvl", shape.planes, shape.levels,
                                               shape.width, shape.height, 5);
        const ImageFile probe(path.c_str());
        auto fitsInitialCrop = [&](int32_t scale) {
            return probe.GetWidthAtScale(scale) <= 640 && probe.GetHeightAtScale(scale) <= 480;
        };
        // Untouched, the dialog opens at a listed ratio (the saved scale 2 or the largest
        // below it) and delivers what it shows.
        const Delivered first = ReadThroughDialog(path, shape.planes, -1, false);
        ASSERT_GE(first.scale, 0);
        EXPECT_LE(first.scale, std::max(first.thumbnailScale - 1, 0));
        ExpectDelivered(first, path, shape.planes, fitsInitialCrop(first.scale));

        const int32_t ratios = std::max(first.thumbnailScale, 1);
        for (int32_t ratio = 0; ratio < ratios; ++ratio) {
            for (bool max : {true, false}) {
                SCOPED_TRACE("ratio " + std::to_string(ratio) + (max ? " max" : " initial"));
                const Delivered got = ReadThroughDialog(path, shape.planes, ratio, max);
                ASSERT_EQ(got.scale, ratio);
                ExpectDelivered(got, path, shape.planes, max || fitsInitialCrop(ratio));
            }
        }
    }
}

}  // namespace
