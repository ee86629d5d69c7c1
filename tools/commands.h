// The subcommands of the kavel tool; each takes its own argv (argv[0] = the subcommand name)
// and returns the process's exit status.
#pragma once

int run_info_command(int argc, char** argv);
int run_decode_command(int argc, char** argv);
