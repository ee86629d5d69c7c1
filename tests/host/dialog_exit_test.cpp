// A host process whose user types into the viewer, moves the pointer over its panes and ends
// it in each way, then unloads the module and exits: it must end normally every time.
#include <gtest/gtest.h>

#include <string>

#include "tests/host/test_images.h"
#include "tests/support/child_process.h"

namespace {

kavel_test::CommandRun RunChild(const std::string& file, const std::string& ending) {
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " KAVEL_DIALOG_USER_CHILD
                                " " KAVEL_MODULE_PATH " " +
                                file + " " + ending + " 2>&1";
    return kavel_test::run_command(command);
}

TEST(DialogExitTest, NoWayOfEndingTheDialogCrashesTheHost) {
    kavel_test::TempDir dir;
    // 300 x 300 at 1:2 (the saved scale 2 is the thumbnail scale, not listed); the user
    // types 64 into the crop width.
    const std::string file = MakeKavelFile(dir, "picture.kvl", 3, 3, 600, 600);
    // (Enter is OK's key; ViewerDialogTest drives it in-process.)
    for (const char* ending : {"ok", "cancel", "escape", "close"}) {
        const kavel_test::CommandRun run = RunChild(file, ending);
        EXPECT_TRUE(run.exited) << ending << ": killed by signal " << run.status << "\n"
                                << run.output;
        EXPECT_EQ(run.status, 0) << ending << "\n" << run.output;
        const bool confirmed = std::string(ending) == "ok";
        // OK takes the typed width as Apply would.
        EXPECT_EQ(run.output.find("delivered 64 x 300") != std::string::npos, confirmed)
            << ending << "\n"
            << run.output;
    }
}

}  // namespace
