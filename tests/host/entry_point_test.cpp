// The selector table and the prepare selector's ways to end, through the exported entry
// point.
#include "host/entry_point.h"

#include <gtest/gtest.h>

#include "host/module_load.h"
#include "host/plugin_app.h"
#include "platform/dialog_automation.h"
#include "platform/message_box.h"
#include "tests/host/recording_host.h"
#include "tests/host/test_images.h"

namespace {

class EntryPointTest : public testing::Test {
  protected:
    void SetUp() override {
        OnModuleAttach(reinterpret_cast<const void*>(&OnModuleAttach));
        platform::ClearMessageLog();
        platform::SetDialogAnswer(platform::DialogAnswer::Accept);
    }
    void TearDown() override {
        if (gPluginApp != nullptr) Call(formatSelectorReadFinish);
        platform::SetDialogAnswer(platform::DialogAnswer::User);
    }

    int16_t Call(int16_t selector) {
        int16_t result = 12345;
        int32_t data = 0x5A5A;
        ENTRYPOINT(selector, &host.format, &data, &result);
        EXPECT_EQ(data, 0x5A5A) << "the data slot is never touched";
        return result;
    }

    kavel_test::TempDir dir;
    RecordingHost host;
};

TEST_F(EntryPointTest, SelectorsOutsideTheReadCycleAreAcceptedOrRefused) {
    for (int selector : {5, 6, 9, 13, 16, 17}) {
        EXPECT_EQ(Call(static_cast<int16_t>(selector)), 0) << selector;
    }
    EXPECT_EQ(gPluginApp, nullptr);
    for (int selector : {18, -1, -30000, 32767}) {
        EXPECT_EQ(Call(static_cast<int16_t>(selector)), formatBadParameters) << selector;
    }
    EXPECT_EQ(uint16_t(formatBadParameters), 0x88DC);
    // Start, continue and finish without a prepare have nothing to work on.
    EXPECT_EQ(Call(formatSelectorReadStart), formatBadParameters);
    EXPECT_EQ(Call(formatSelectorReadFinish), formatBadParameters);
}

TEST_F(EntryPointTest, AboutShowsTheModulesTextAndCaption) {
    PlatformData platformData{nullptr};
    AboutRecord about{};
    about.platformData = &platformData;
    int16_t result = 7;
    ENTRYPOINT(formatSelectorAbout, &about, nullptr, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(gPluginApp, nullptr);
    ASSERT_EQ(platform::ShownMessageBoxes().size(), 1u);
    const platform::ShownMessageBox& box = platform::ShownMessageBoxes()[0];
    EXPECT_EQ(box.text, "Brindle Kavel Plugin v1.0");
    EXPECT_FALSE(box.caption.empty());
    EXPECT_LT(box.caption.size(), 60u);
    EXPECT_EQ(box.style, 0x40u);
}

TEST_F(EntryPointTest, FullReadLeavesNoApplicationObject) {
    host.SetFile(MakeKavelFile(dir, "grey.kvl", 1, 3, 600, 600));
    const int runs = platform::ModalRunCount();
    EXPECT_EQ(Call(formatSelectorReadPrepare), 0);
    EXPECT_EQ(platform::ModalRunCount(), runs + 1);
    ASSERT_NE(gPluginApp, nullptr);
    EXPECT_EQ(host.format.maxData, 0);
    EXPECT_EQ(Call(formatSelectorReadStart), 0);
    EXPECT_EQ(Call(formatSelectorReadContinue), 0);
    EXPECT_FALSE(host.tiles.empty());
    EXPECT_EQ(Call(formatSelectorReadFinish), 0);
    EXPECT_EQ(gPluginApp, nullptr);
}

TEST_F(EntryPointTest, TwoPlaneImageIsRefusedWithAMessageAndNoDialog) {
    host.SetFile(MakeHeaderOnlyFile(dir, "two.kvl", 2, 1, 64, 64));
    const int runs = platform::ModalRunCount();
    EXPECT_EQ(Call(formatSelectorReadPrepare), 1);
    EXPECT_EQ(platform::ModalRunCount(), runs);
    ASSERT_EQ(platform::ShownMessageBoxes().size(), 1u);
    EXPECT_EQ(platform::ShownMessageBoxes()[0].text, "This type of image is not supported, sorry.");
    EXPECT_EQ(platform::ShownMessageBoxes()[0].style & 0xF0u, 0x30u);
    EXPECT_EQ(platform::BeepCount(), 0);
}

TEST_F(EntryPointTest, UnreadableFileBeepsThenIsRefused) {
    for (const std::string& path :
         {dir.path("missing.kvl"), MakeHeaderOnlyFile(dir, "bad.kvl", 3, 1, -5, 64)}) {
        platform::ClearMessageLog();
        host.SetFile(path);
        EXPECT_EQ(Call(formatSelectorReadPrepare), 1) << path;
        EXPECT_EQ(platform::BeepCount(), 1) << path;
        ASSERT_EQ(platform::ShownMessageBoxes().size(), 1u) << path;
        EXPECT_EQ(platform::ShownMessageBoxes()[0].text,
                  "This type of image is not supported, sorry.");
    }
}

TEST_F(EntryPointTest, CancelThenPrepareAgainReusesTheApplicationObject) {
    host.SetFile(MakeKavelFile(dir, "first.kvl", 1, 3, 600, 600));
    platform::SetDialogAnswer(platform::DialogAnswer::Cancel);
    EXPECT_EQ(Call(formatSelectorReadPrepare), 1);
    ASSERT_NE(gPluginApp, nullptr);
    PluginApp* const first = gPluginApp;
    // Cancel writes nothing back: the region is still the whole image.
    EXPECT_EQ(first->right, 600);
    EXPECT_EQ(first->scale, 2);

    const std::string second = MakeKavelFile(dir, "second.kvl", 3, 3, 640, 600);
    host.SetFile(second);
    platform::SetDialogAnswer(platform::DialogAnswer::Accept);
    EXPECT_EQ(Call(formatSelectorReadPrepare), 0);
    EXPECT_EQ(gPluginApp, first);
    EXPECT_STREQ(gPluginApp->image->GetPath(), second.c_str());
    EXPECT_EQ(gPluginApp->image->GetPlaneCount(), 3);
}

TEST_F(EntryPointTest, AcceptedDialogTakesTheWholeImageAtTheLargestListedRatio) {
    host.SetFile(MakeKavelFile(dir, "grey.kvl", 1, 3, 600, 600));
    ASSERT_EQ(Call(formatSelectorReadPrepare), 0);
    // The thumbnail scale is 2, so the list offers 1:1 and 1:2 and the saved scale 2 becomes
    // 1; at 1:2 the image is 300 x 300, and the 640 x 480 crop is exactly the whole of it.
    EXPECT_EQ(gPluginApp->image->GetLevelCount(), 2);
    EXPECT_EQ(gPluginApp->scale, 1);
    EXPECT_EQ(gPluginApp->left, 0);
    EXPECT_EQ(gPluginApp->top, 0);
    EXPECT_EQ(gPluginApp->right, 300);
    EXPECT_EQ(gPluginApp->bottom, 300);
    EXPECT_EQ(gPluginApp->GetResolution(), 72);
}

}  // namespace
