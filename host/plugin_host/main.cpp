// plugin-host: a small stand-in for the image editor that file-format modules are written
// for. It registers modules from their property lists, shows their about box, and opens a
// file through the module that reads it, writing the document it receives as a PNG.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/plugin_host/host_session.h"
#include "host/plugin_host/module_catalogue.h"
#include "host/plugin_host/module_loader.h"
#ifdef _WIN32
#include "host/plugin_host/pnm_output.h"
#else
#include "host/plugin_host/png_output.h"
#endif

#ifndef KAVEL_VERSION
#define KAVEL_VERSION "unknown"
#endif
#ifndef KAVEL_DEFAULT_PLUGIN_DIR
#define KAVEL_DEFAULT_PLUGIN_DIR "plugins"
#endif

namespace {

constexpr int kFailure = 1;
constexpr int kUsage = 2;

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: plugin-host list DIR_OR_MODULE\n"
                 "       plugin-host about MODULE\n"
                 "       plugin-host open FILE -o OUT.png [--plugins DIR] [--accept | --cancel]\n"
                 "       plugin-host --help | --version\n"
                 "\n"
                 "Options take their value as the next word or after '=' (--plugins=DIR);\n"
                 "-o is also --output.\n"
                 "Messages go to the standard error; list writes the registration it reads.\n"
                 "\n"
                 "open picks the module whose readable extension matches FILE (from DIR,\n"
                 "default $KAVEL_PLUGIN_DIR, else %s, else lib/kavel/plugins beside\n"
                 "the installed program), runs its viewer dialog and writes the region it delivers.\n"
                 "  --accept   confirm the viewer dialog with its initial values at once\n"
                 "  --cancel   cancel the viewer dialog at once\n"
                 "Without either the dialog is shown on the display.\n"
                 "\n"
                 "Faults, for testing modules:\n"
                 "  --no-buffer-suite         offer no buffer suite\n"
                 "  --buffer-suite-version N  offer a suite of version N\n"
                 "  --fail-allocation         refuse every buffer\n"
                 "  --fail-advance-at N       stop the read when tile N arrives (1 = first)\n",
                 KAVEL_DEFAULT_PLUGIN_DIR);
}

// Where open looks for modules without --plugins: $KAVEL_PLUGIN_DIR, else the build's folder
// while it exists, else lib/kavel/plugins beside the installed program (../lib/kavel/plugins).
std::string DefaultPluginDir() {
    const char* chosen = std::getenv("KAVEL_PLUGIN_DIR");
    if (chosen != nullptr && *chosen != '\0') return chosen;
    std::error_code error;
    if (std::filesystem::is_directory(KAVEL_DEFAULT_PLUGIN_DIR, error)) return KAVEL_DEFAULT_PLUGIN_DIR;
#ifndef _WIN32
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed =
            program.parent_path().parent_path() / "lib" / "kavel" / "plugins";
        if (std::filesystem::is_directory(installed, error)) return installed.string();
    }
#endif
    return KAVEL_DEFAULT_PLUGIN_DIR;
}

// A mistake on the command line: one line naming it, and where the help is.
int UsageError(const std::string& reason) {
    std::fprintf(stderr, "plugin-host: %s\nsee plugin-host --help\n", reason.c_str());
    return kUsage;
}

bool ParseCount(const std::string& text, int32_t minimum, int32_t maximum, int32_t* value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || text.empty() || *end != '\0' || parsed < minimum || parsed > maximum)
        return false;
    *value = static_cast<int32_t>(parsed);
    return true;
}

// The words of a command line, "--name=value" split into the option and its value.
struct Word {
    std::string text;
    bool attached = false;  // the value part of "--name=value"
};

std::vector<Word> SplitWords(int argc, char** argv, int first) {
    std::vector<Word> words;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            words.push_back({arg.substr(0, equals), false});
            words.push_back({arg.substr(equals + 1), true});
        } else {
            words.push_back({arg, false});
        }
    }
    return words;
}

bool OffscreenRequested() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return platform != nullptr && (std::strncmp(platform, "offscreen", 9) == 0 ||
                                   std::strncmp(platform, "minimal", 7) == 0);
}

void PrintModule(const CatalogueEntry& entry) {
    if (!entry.usable) {
        std::printf("%s: refused: %s\n", entry.path.c_str(), entry.problem.c_str());
        return;
    }
    const ModuleProperties& p = entry.properties;
    std::printf("%s\n", entry.path.c_str());
    std::printf("  kind          %s%s\n", p.kind.c_str(), p.kind == "8BIF" ? " (file format)" : "");
    std::printf("  name          %s\n", p.name.c_str());
    std::printf("  version       %u.%u\n", p.version >> 16, p.version & 0xFFFFu);
    std::printf("  entry point   %s\n", p.entryPoint.c_str());
    std::printf("  reads type    '%s' creator '%s'\n", p.readType.c_str(), p.readCreator.c_str());
    std::string extensions;
    for (const std::string& extension : p.readExtensions)
        extensions += (extensions.empty() ? "" : " ") + extension;
    std::printf("  extensions    %s\n", extensions.empty() ? "(none)" : extensions.c_str());
    std::printf("  format flags  %s\n", DescribeFormatFlags(p.formatFlags).c_str());
    std::printf("  largest image %d rows x %d columns\n", p.maxRows, p.maxColumns);
    std::string channels;
    for (int32_t count : p.maxChannels)
        channels += (channels.empty() ? "" : " ") + std::to_string(count);
    std::printf("  channels      %s (per image mode)\n", channels.c_str());
}

int ListCommand(int argc, char** argv) {
    if (argc != 3) return UsageError("list takes one directory or module");
    if (argv[2][0] == '-') return UsageError(std::string("unknown option ") + argv[2]);
    const std::vector<CatalogueEntry> catalogue = ReadCatalogue(argv[2]);
    if (catalogue.empty()) {
        std::fprintf(stderr, "plugin-host: no modules (*.8bi) in %s\n", argv[2]);
        return kFailure;
    }
    bool allUsable = true;
    for (const CatalogueEntry& entry : catalogue) {
        PrintModule(entry);
        allUsable = allUsable && entry.usable;
    }
    return allUsable ? 0 : kFailure;
}

int AboutCommand(int argc, char** argv) {
    if (argc != 3) return UsageError("about takes one module");
    if (argv[2][0] == '-') return UsageError(std::string("unknown option ") + argv[2]);
    const CatalogueEntry module = ReadModule(argv[2]);
    if (!module.usable) {
        std::fprintf(stderr, "plugin-host: %s: refused: %s\n", module.path.c_str(),
                     module.problem.c_str());
        return kFailure;
    }
    // The box is shown on the display; without one its text goes to the standard output.
    if (!HostHasDisplay() && !OffscreenRequested())
        SetEnvironmentValue("QT_QPA_PLATFORM", "offscreen");
    LoadedModule loaded;
    std::string error;
    if (!LoadModule(module, &loaded, &error)) {
        std::fprintf(stderr, "plugin-host: %s\n", error.c_str());
        return kFailure;
    }
    const int16_t result = RunAbout(loaded.entry);
    if (result != 0) {
        std::fprintf(stderr, "plugin-host: about: %s\n", DescribeResult(result).c_str());
        return kFailure;
    }
    return 0;
}

int OpenCommand(int argc, char** argv) {
    std::string file;
    std::string output;
    std::string plugins = DefaultPluginDir();
    bool accept = false;
    bool cancel = false;
    HostFaults faults;
    const std::vector<Word> words = SplitWords(argc, argv, 2);
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& arg = words[i].text;
        // The value of an option that takes one: the next word, whatever it looks like.
        auto value = [&]() -> const std::string* {
            return i + 1 < words.size() ? &words[++i].text : nullptr;
        };
        if (i + 1 < words.size() && words[i + 1].attached && arg != "-o" && arg != "--output" &&
            arg != "--plugins" && arg != "--buffer-suite-version" && arg != "--fail-advance-at") {
            return UsageError((arg.rfind("--", 0) == 0 ? "option " : "") + arg + " takes no value");
        }
        if (arg == "-o" || arg == "--output") {
            const std::string* v = value();
            if (v == nullptr) return UsageError(arg + " needs a file name");
            output = *v;
        } else if (arg == "--plugins") {
            const std::string* v = value();
            if (v == nullptr) return UsageError("--plugins needs a directory");
            plugins = *v;
        } else if (arg == "--accept") {
            accept = true;
        } else if (arg == "--cancel") {
            cancel = true;
        } else if (arg == "--no-buffer-suite") {
            faults.noBufferSuite = true;
        } else if (arg == "--fail-allocation") {
            faults.failAllocation = true;
        } else if (arg == "--buffer-suite-version") {
            const std::string* v = value();
            int32_t version = 0;
            if (v == nullptr || !ParseCount(*v, 0, 32767, &version)) {
                return UsageError("--buffer-suite-version wants a number from 0 to 32767" +
                                  (v != nullptr ? ", not '" + *v + "'" : std::string()));
            }
            faults.bufferSuiteVersion = static_cast<int16_t>(version);
        } else if (arg == "--fail-advance-at") {
            const std::string* v = value();
            if (v == nullptr || !ParseCount(*v, 1, INT32_MAX, &faults.failAdvanceAtTile)) {
                return UsageError("--fail-advance-at wants a tile number of 1 or more" +
                                  (v != nullptr ? ", not '" + *v + "'" : std::string()));
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (file.empty()) {
            file = arg;
        } else {
            return UsageError("open takes one file (" + file + " and " + arg + " given)");
        }
    }
    if (file.empty()) return UsageError("open needs a file");
    if (output.empty()) return UsageError("open needs -o OUT.png");
    if (accept && cancel) return UsageError("--accept and --cancel exclude each other");

    const std::string extension = std::filesystem::path(file).extension().string();
    const std::vector<CatalogueEntry> catalogue = ReadCatalogue(plugins);
    for (const CatalogueEntry& entry : catalogue) {
        if (!entry.usable) {
            std::fprintf(stderr, "plugin-host: skipping %s: %s\n", entry.path.c_str(),
                         entry.problem.c_str());
        }
    }
    const std::vector<const CatalogueEntry*> readers =
        FindReaders(catalogue, extension.empty() ? "" : extension.substr(1));
    if (readers.empty()) {
        std::fprintf(stderr, "plugin-host: no module in %s reads %s files\n", plugins.c_str(),
                     extension.empty() ? "extension-less" : extension.c_str());
        return kFailure;
    }

    if (!accept && !cancel && !HostHasDisplay()) {
        std::fprintf(stderr,
                     "plugin-host: no display to show the viewer dialog on; use --accept or "
                     "--cancel\n");
        return kFailure;
    }
    if (accept || cancel) {
        SetEnvironmentValue("KAVEL_DIALOG_ANSWER", accept ? "accept" : "cancel");
        if (!HostHasDisplay() && !OffscreenRequested()) {
            SetEnvironmentValue("QT_QPA_PLATFORM", "offscreen");
        }
    }

    // The first module that loads reads the file; one that does not is skipped.
    LoadedModule loaded;
    std::string error;
    for (const CatalogueEntry* module : readers) {
        if (LoadModule(*module, &loaded, &error)) break;
        std::fprintf(stderr, "plugin-host: %s; skipping %s\n", error.c_str(), module->path.c_str());
    }
    if (loaded.entry == nullptr) return kFailure;
    HostDocument document;
    const ReadOutcome outcome = RunRead(loaded.entry, file, faults, true, &document);
    if (outcome.buffersLeft != 0) {
        std::fprintf(stderr, "plugin-host: warning: the module left %d buffer(s) allocated\n",
                     outcome.buffersLeft);
    }
    if (outcome.result != 0) {
        std::fprintf(stderr, "plugin-host: %s: %s: %s\n", file.c_str(), outcome.stage,
                     DescribeResult(outcome.result).c_str());
        return kFailure;
    }
#ifdef _WIN32
    const bool written = WriteDocumentPnm(document, output, &error);
#else
    const bool written = WriteDocumentPng(document, output, &error);
#endif
    if (!written) {
        std::fprintf(stderr, "plugin-host: %s: %s\n", output.c_str(), error.c_str());
        return kFailure;
    }
    std::fprintf(stderr, "%s: %d x %d %s, %d pixels/inch, %d tiles -> %s\n", file.c_str(),
                 document.columns, document.rows, document.planes == 3 ? "RGB" : "grey",
                 document.resolution, outcome.tiles, output.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return UsageError("no command");
    const std::string command = argv[1];
    if (command == "--version") {
        std::printf("plugin-host %s\n", KAVEL_VERSION);
        return 0;
    }
    if (command == "list") return ListCommand(argc, argv);
    if (command == "about") return AboutCommand(argc, argv);
    if (command == "open") return OpenCommand(argc, argv);
    if (command == "--help" || command == "-h" || command == "help") {
        PrintUsage(stdout);
        return 0;
    }
    return UsageError("unknown command " + command);
}
