#include "tools/command_line.h"

#include <cstdio>

#ifndef KAVEL_VERSION
#define KAVEL_VERSION "unknown"
#endif

namespace kavel_tools {

namespace {

const OptionDefinition* find_long(const std::vector<OptionDefinition>& definitions, const std::string& name) {
    for (const OptionDefinition& definition : definitions) {
        if (name == definition.name) return &definition;
    }
    return nullptr;
}

const OptionDefinition* find_short(const std::vector<OptionDefinition>& definitions, char letter) {
    for (const OptionDefinition& definition : definitions) {
        if (definition.letter != 0 && definition.letter == letter) return &definition;
    }
    return nullptr;
}

}  // namespace

bool CommandLine::parse(int argc, char** argv, const std::vector<OptionDefinition>& definitions,
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
        const OptionDefinition* definition = nullptr;
        std::string shown;  // the option as the user wrote it
        std::string value;
        bool has_value = false;
        if (argument[1] == '-') {
            const std::size_t equals = argument.find('=');
            shown = argument.substr(0, equals);
            definition = find_long(definitions, shown.substr(2));
            if (equals != std::string::npos) {
                value = argument.substr(equals + 1);
                has_value = true;
            }
        } else {
            shown = argument.substr(0, 2);
            definition = find_short(definitions, argument[1]);
            if (argument.size() > 2) {
                if (definition != nullptr && !definition->takes_value) definition = nullptr;  // not -qv
                value = argument.substr(2);
                has_value = true;
            }
        }
        if (definition == nullptr) {
            *error = "unknown option '" + (argument[1] == '-' ? shown : argument) + "'";
            return false;
        }
        if (definition->takes_value && !has_value) {
            if (i + 1 >= argc) {
                *error = shown + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!definition->takes_value && has_value) {
            *error = shown + " takes no value";
            return false;
        }
        values_[definition->name] = value;
    }
    return true;
}

std::string CommandLine::value(const std::string& name, const std::string& fallback) const {
    const auto found = values_.find(name);
    return found == values_.end() ? fallback : found->second;
}

std::vector<OptionDefinition> with_common_options(std::vector<OptionDefinition> definitions) {
    definitions.push_back({"help", 'h', false});
    definitions.push_back({"version", 0, false});
    definitions.push_back({"quiet", 'q', false});
    definitions.push_back({"verbose", 'v', false});
    return definitions;
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
