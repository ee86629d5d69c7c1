#include "tests/support/child_process.h"

#include <sys/wait.h>

#include <cstdio>

namespace kavel_test {

CommandRun run_command(const std::string& command) {
    CommandRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, count);
    const int status = pclose(pipe);
    if (status == -1) return run;
    run.exited = WIFEXITED(status);
    run.status = run.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    if (run.exited && run.status > 128) {
        run.exited = false;
        run.status -= 128;
    }
    return run;
}

}  // namespace kavel_test
