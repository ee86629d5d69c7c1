// kavel encode: writes a Kavel file from a PNG, PGM or PPM picture.
#pragma once

// argv[0] is "encode". Returns 0 on success, 1 when the input cannot be encoded or the output
// cannot be written (one line on stderr, no output file), 2 for a bad command line.
int run_encode_command(int argc, char** argv);
