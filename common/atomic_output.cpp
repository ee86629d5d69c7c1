#include "common/atomic_output.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <pthread.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavel_common {

namespace {

// The temporary file being written, for the signal handler: a fixed buffer and a flag, the
// only state a handler may read.
char g_pending_path[4096];
std::atomic<bool> g_pending{false};

void remove_pending_and_reraise(int signal_number) {
    AtomicOutput::remove_pending();
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void record_pending(const std::string& path) {
    g_pending.store(false);
    if (path.size() >= sizeof g_pending_path) return;
    std::memcpy(g_pending_path, path.c_str(), path.size() + 1);
    g_pending.store(true);
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

unsigned file_mode_for_umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~unsigned(mask);
}

void AtomicOutput::remove_on_signals() {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = remove_pending_and_reraise;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal_number, &action, nullptr);
    }
}

void AtomicOutput::remove_pending() {
    if (g_pending.load()) ::unlink(g_pending_path);
}

AtomicOutput::AtomicOutput(std::string destination) : destination_(std::move(destination)) {}

AtomicOutput::~AtomicOutput() {
    if (stream_ != nullptr && stream_ != stdout) std::fclose(stream_);
    if (!committed_ && !temporary_.empty()) {
        g_pending.store(false);
        ::unlink(temporary_.c_str());
    }
}

bool AtomicOutput::open(std::string* error) {
    if (destination_ == "-") {
        stream_ = stdout;
        return true;
    }
    // A short name of its own beside the destination, so that destination names up to the
    // longest a folder allows still work.
    std::string pattern = folder_of(destination_) + "/.kavel-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // No signal between creating the file and recording it for the handler.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, signal_number);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    const int descriptor = ::mkstemp(name.data());
    const int saved = errno;
    if (descriptor >= 0) record_pending(name.data());
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (descriptor < 0) {
        *error = std::string("cannot create the output: ") + std::strerror(saved);
        return false;
    }
    temporary_ = name.data();
    struct stat existing {};
    replaces_ = ::lstat(destination_.c_str(), &existing) == 0;
    ::fchmod(descriptor, file_mode_for_umask());
    stream_ = ::fdopen(descriptor, "wb");
    if (stream_ == nullptr) {
        ::close(descriptor);
        *error = std::string("cannot write the output: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void AtomicOutput::start_writeback() {
    // Large enough that the disk gets long runs, small enough that the sync waits briefly.
    constexpr long long kWritebackBytes = 16ll << 20;
    if (stream_ == nullptr || stream_ == stdout || !replaces_) return;
    const long long end = ::ftello(stream_);
    if (end < 0 || end - writeback_from_ < kWritebackBytes) return;
    // A failed flush leaves the stream's error set, which commit() reports.
    if (std::fflush(stream_) != 0) return;
#ifdef SYNC_FILE_RANGE_WRITE
    ::sync_file_range(fileno(stream_), writeback_from_, end - writeback_from_,
                      SYNC_FILE_RANGE_WRITE);
#endif
    writeback_from_ = end;
}

bool AtomicOutput::commit(std::string* error) {
    if (stream_ == stdout) {
        stream_ = nullptr;
        committed_ = true;
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            *error = std::string("cannot write to standard output: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_) &&
                         (!replaces_ || ::fsync(fileno(stream_)) == 0);
    const int saved = errno;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!written || !closed) {
        *error = std::string("cannot write the output: ") + std::strerror(written ? errno : saved);
        return false;
    }
    if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        *error = std::string("cannot move the output into place: ") + std::strerror(errno);
        return false;
    }
    g_pending.store(false);
    committed_ = true;
    return true;
}

}  // namespace kavel_common
