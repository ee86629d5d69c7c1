// A temporary stream holding given bytes, positioned at its start.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

class BlockStream {
public:
    explicit BlockStream(const std::vector<uint8_t>& bytes) : file_(std::tmpfile()) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file_);
        std::rewind(file_);
    }
    ~BlockStream() { std::fclose(file_); }
    BlockStream(const BlockStream&) = delete;
    BlockStream& operator=(const BlockStream&) = delete;
    FILE* get() { return file_; }
    long position() { return std::ftell(file_); }

private:
    FILE* file_;
};
