#include "tools/input_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavel_tools {

namespace {

// Copies everything readable from `from` into a fresh unlinked temporary file.
int copy_to_temporary(int from, std::string* reason) {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/kavel-in-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int to = ::mkstemp(name.data());
    if (to < 0) {
        *reason = std::string("cannot make a temporary copy: ") + std::strerror(errno);
        return -1;
    }
    ::unlink(name.data());
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got == 0) return to;
        if (got < 0) {
            if (errno == EINTR) continue;
            *reason = std::string("cannot read: ") + std::strerror(errno);
            break;
        }
        ssize_t done = 0;
        while (done < got) {
            const ssize_t put = ::write(to, buffer.data() + done, std::size_t(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                *reason = std::string("cannot make a temporary copy: ") + std::strerror(errno);
                ::close(to);
                return -1;
            }
            done += put;
        }
    }
    ::close(to);
    return -1;
}

}  // namespace

InputFile::~InputFile() {
    if (copy_ >= 0) ::close(copy_);
}

bool InputFile::open(const std::string& name, std::string* error) {
    const bool standard_input = name == "-";
    shown_ = standard_input ? "standard input" : name;
    path_ = name;
    struct stat status {};
    if (standard_input ? ::fstat(0, &status) != 0 : ::stat(name.c_str(), &status) != 0) {
        *error = shown_ + ": cannot open: " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        *error = shown_ + ": is a folder, not a file";
        return false;
    }
    if (S_ISREG(status.st_mode) && !standard_input) return true;
    // A pipe, terminal or device: read it once into a copy that can be read at any offset.
    int from = 0;
    if (!standard_input) {
        from = ::open(name.c_str(), O_RDONLY);
        if (from < 0) {
            *error = shown_ + ": cannot open: " + std::strerror(errno);
            return false;
        }
    }
    std::string reason;
    copy_ = copy_to_temporary(from, &reason);
    if (!standard_input) ::close(from);
    if (copy_ < 0) {
        *error = shown_ + ": " + reason;
        return false;
    }
    path_ = "/proc/self/fd/" + std::to_string(copy_);
    return true;
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    if (a == "-" || b == "-") return false;
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace kavel_tools
