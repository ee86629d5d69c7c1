// Runs a shell command as a child process and collects what it writes to its standard output.
#pragma once

#include <string>

namespace kavel_test {

struct CommandRun {
    bool exited = false;  // ended by exit, not by a signal
    int status = -1;      // its exit status, or the signal that ended it
    std::string output;   // its standard output (redirect standard error in the command)
};

// A child the shell reports as ended by status 128 + n (a command the shell did not replace
// itself with, killed by signal n) counts as killed by n. A command that cannot be started
// gives exited false and status -1.
CommandRun run_command(const std::string& command);

}  // namespace kavel_test
