// A host process whose user types into the viewer, moves the pointer over its panes and ends
// it in each way, then unloads the module and exits: it must end normally every time.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/host/test_images.h"

namespace {

struct ChildRun {
    bool exited = false;
    int status = -1;  // exit status, or the signal that ended it
    std::string output;
};

ChildRun RunChild(const std::string& file, const std::string& ending) {
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " KAVEL_DIALOG_USER_CHILD
                                " " KAVEL_MODULE_PATH " " +
                                file + " " + ending + " 2>&1";
    ChildRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, count);
    const int status = pclose(pipe);
    run.exited = WIFEXITED(status);
    run.status = run.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    // popen's shell reports a child killed by a signal as 128 + the signal.
    if (run.exited && run.status > 128) {
        run.exited = false;
        run.status -= 128;
    }
    return run;
}

TEST(DialogExitTest, NoWayOfEndingTheDialogCrashesTheHost) {
    kavel_test::TempDir dir;
    // 300 x 300 at 1:2 (the saved scale 2 is the thumbnail scale, not listed); the user
    // types 64 into the crop width.
    const std::string file = MakeKavelFile(dir, "picture.kvl", 3, 3, 600, 600);
    // (Enter is OK's key; ViewerDialogTest drives it in-process.)
    for (const char* ending : {"ok", "cancel", "escape", "close"}) {
        const ChildRun run = RunChild(file, ending);
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
