// kavel: read (and write) Kavel images from the command line.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "tools/command_line.h"
#include "tools/commands.h"
#include "tools/heap_settings.h"
#include "common/atomic_output.h"
#ifdef KAVEL_HAVE_ENCODE
#include "tools/encode_command.h"
#endif

namespace {

void print_usage(FILE* out) {
    std::fputs(
        "usage: kavel COMMAND [ARGUMENTS]\n"
        "Kavel images hold a picture as a wavelet decomposition: any window can be decoded\n"
        "at any scale 1:2^S without decoding the rest.\n\n"
        "commands:\n"
        "  info [--json] FILE...                       size, scales and layout of each FILE\n"
        "  decode FILE -o OUT [--scale S] [--window X0,Y0,X1,Y1]\n"
        "                                              decode a window to PNG/PGM/PPM/raw\n"
#ifdef KAVEL_HAVE_ENCODE
        "  encode IN OUT.kvl [options]                 write a Kavel file from PNG/PGM/PPM\n"
#endif
        "\nEvery command takes -h/--help, --version, -q/--quiet and -v/--verbose; a FILE or IN\n"
        "of - is standard input. Run 'kavel COMMAND --help' for a command's options.\n",
        out);
}

int run(int argc, char** argv) {
    kavel_tools::keep_large_blocks_in_heap();
    if (argc < 2) {
        std::fprintf(stderr, "kavel: no command given; see kavel --help\n");
        return 2;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
        std::strcmp(command, "help") == 0) {
        print_usage(stdout);
        return 0;
    }
    if (std::strcmp(command, "info") == 0) return run_info_command(argc - 1, argv + 1);
    if (std::strcmp(command, "decode") == 0) return run_decode_command(argc - 1, argv + 1);
#ifdef KAVEL_HAVE_ENCODE
    if (std::strcmp(command, "encode") == 0) return run_encode_command(argc - 1, argv + 1);
#endif
    if (std::strcmp(command, "--version") == 0) {
        kavel_tools::print_version();
        return 0;
    }
    std::fprintf(stderr, "kavel: unknown command '%s'; see kavel --help\n", command);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    kavel_common::AtomicOutput::remove_on_signals();
    // No exception ends the tool unexplained; an output being written is removed as the
    // stack unwinds.
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "kavel: out of memory\n");
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "kavel: internal error: %s\n", failure.what());
    } catch (...) {
        std::fprintf(stderr, "kavel: internal error\n");
    }
    return 1;
}
