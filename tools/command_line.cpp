#include "tools/command_line.h"

#include <cstdio>

#ifndef KAVEL_VERSION
#define KAVEL_VERSION "unknown"
#endif

namespace kavel_tools {

namespace {

const OptionSpec* find_long(const std::vector<OptionSpec>& specs, const std::string& name) {
    for (const OptionSpec& spec : specs) {
        if (name == spec.name) return &spec;
    }
    return nullptr;
}

const OptionSpec* find_short(const std::vector<OptionSpec>& specs, char letter) {
    for (const OptionSpec& spec : specs) {
        if (spec.letter != 0 && spec.letter == letter) return &spec;
    }
    return nullptr;
}

}  // namespace

bool CommandLine::parse(int argc, char** argv, const std::vector<OptionSpec>& specs,
                        std::string* error) {
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (options_ended || argument == "-" || argument.empty() || argument[0] != '-') {
            positional_.push_back(argument);
            continue;
        }
        if (argument == "--") {
            options_ended = true;
            continue;
        }
        const OptionSpec* spec = nullptr;
        std::string shown;  // the option as the user wrote it
        std::string value;
        bool has_value = false;
        if (argument[1] == '-') {
            const std::size_t equals = argument.find('=');
            shown = argument.substr(0, equals);
            spec = find_long(specs, shown.substr(2));
            if (equals != std::string::npos) {
                value = argument.substr(equals + 1);
                has_value = true;
            }
        } else {
            shown = argument.substr(0, 2);
            spec = find_short(specs, argument[1]);
            if (argument.size() > 2) {
                if (spec != nullptr && !spec->takes_value) spec = nullptr;  // not -qv
                value = argument.substr(2);
                has_value = true;
            }
        }
        if (spec == nullptr) {
            *error = "unknown option '" + (argument[1] == '-' ? shown : argument) + "'";
            return false;
        }
        if (spec->takes_value && !has_value) {
            if (i + 1 >= argc) {
                *error = shown + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!spec->takes_value && has_value) {
            *error = shown + " takes no value";
            return false;
        }
        values_[spec->name] = value;
    }
    return true;
}

std::string CommandLine::value(const std::string& name, const std::string& fallback) const {
    const auto found = values_.find(name);
    return found == values_.end() ? fallback : found->second;
}

std::vector<OptionSpec> with_common_options(std::vector<OptionSpec> specs) {
    specs.push_back({"help", 'h', false});
    specs.push_back({"version", 0, false});
    specs.push_back({"quiet", 'q', false});
    specs.push_back({"verbose", 'v', false});
    return specs;
}

bool answered_help_or_version(const CommandLine& line, void (*print_help)()) {
    if (line.has("help")) {
        print_help();
        return true;
    }
    if (line.has("version")) {
        print_version();
        return true;
    }
    return false;
}

int usage_error(const char* command, const std::string& message) {
    std::fprintf(stderr, "kavel %s: %s; see kavel --help\n", command, message.c_str());
    return 2;
}

void print_version() { std::printf("kavel %s\n", KAVEL_VERSION); }

}  // namespace kavel_tools
