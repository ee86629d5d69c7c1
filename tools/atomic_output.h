// An output file written under a temporary name beside its destination and renamed into
// place only when complete, so that a failure never leaves a partial file behind.
#pragma once

#include <cstdio>
#include <string>

class AtomicOutput {
public:
    explicit AtomicOutput(std::string destination);
    ~AtomicOutput();  // removes the temporary file unless committed
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    // Creates the temporary file; false (with *error set) when it cannot be created.
    bool open(std::string* error);
    FILE* stream() { return stream_; }
    // Flushes, closes and renames into place; false (with *error set) on any failure.
    bool commit(std::string* error);

private:
    std::string destination_;
    std::string temporary_;
    FILE* stream_ = nullptr;
    bool committed_ = false;
};
