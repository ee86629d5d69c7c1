// An input named on the command line: a file, or "-" (standard input) or a pipe, which is
// first copied to a temporary file that is already unlinked, so that it can be read at any
// offset like a file.
#pragma once

#include <cstdio>
#include <string>

namespace kavel_tools {

class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False with *error (naming the input) when it cannot be read.
    bool open(const std::string& name, std::string* error);
    // A path that reads the input.
    const std::string& path() const { return path_; }
    // The input as messages name it.
    const std::string& shown() const { return shown_; }

private:
    int copy_ = -1;
    std::string path_, shown_;
};

// True when both paths name the same existing file (device and inode).
bool same_file(const std::string& a, const std::string& b);

}  // namespace kavel_tools
