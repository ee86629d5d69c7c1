#include "tools/atomic_output.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

AtomicOutput::AtomicOutput(std::string destination) : destination_(std::move(destination)) {}

AtomicOutput::~AtomicOutput() {
    if (stream_ != nullptr) std::fclose(stream_);
    if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

bool AtomicOutput::open(std::string* error) {
    std::string pattern = destination_ + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int descriptor = ::mkstemp(name.data());
    if (descriptor < 0) {
        *error = std::string("cannot create the output: ") + std::strerror(errno);
        return false;
    }
    temporary_ = name.data();
    ::fchmod(descriptor, 0644);
    stream_ = ::fdopen(descriptor, "wb");
    if (stream_ == nullptr) {
        ::close(descriptor);
        *error = std::string("cannot write the output: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool AtomicOutput::commit(std::string* error) {
    const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!written || !closed) {
        *error = "cannot write the output (disk full?)";
        return false;
    }
    if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        *error = std::string("cannot move the output into place: ") + std::strerror(errno);
        return false;
    }
    committed_ = true;
    return true;
}
