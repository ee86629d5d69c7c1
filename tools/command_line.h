// The command-line conventions of the kavel tool: --name=value and --name value, short
// options (-o OUT, -oOUT), "--" before file names that begin with a dash, "-" for standard
// input or output. Anything else that begins with a dash is an unknown option.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kavel_tools {

struct OptionDefinition {
    const char* name;    // long name without the dashes ("scale")
    char letter;         // short form (0 for none)
    bool takes_value;
};

class CommandLine {
public:
    // Parses arguments [1, argc) against definitions. False with *error naming the argument.
    bool parse(int argc, char** argv, const std::vector<OptionDefinition>& definitions, std::string* error);

    bool has(const std::string& name) const { return values_.count(name) != 0; }
    // The value last given for name, or fallback.
    std::string value(const std::string& name, const std::string& fallback = "") const;
    const std::vector<std::string>& positional() const { return positional_; }

private:
    std::map<std::string, std::string> values_;
    std::vector<std::string> positional_;
};

// The options every command knows: help, version, quiet, verbose.
std::vector<OptionDefinition> with_common_options(std::vector<OptionDefinition> definitions);

// Prints the command's help or the version when the line asks for either; true if it did.
bool answered_help_or_version(const CommandLine& line, void (*print_help)());

// Prints "kavel COMMAND: message; see kavel --help" and returns the usage status 2.
int usage_error(const char* command, const std::string& message);
// Prints the tool's name and version.
void print_version();

}  // namespace kavel_tools
