// An output file written under a temporary name beside its destination and renamed into
// place only when complete, so that a failure never leaves a partial file behind. The file
// gets the permissions the umask allows. When it replaces a file, it is synced to disk before
// the rename, so that a crash cannot leave an empty file where the old one was; a new file is
// not (there is nothing to lose, and the sync of a large file takes a long wait). The name
// "-" means standard output, written directly.
#pragma once

#include <cstdio>
#include <string>

namespace kavel_common {

class AtomicOutput {
public:
    explicit AtomicOutput(std::string destination);
    ~AtomicOutput();  // removes the temporary file unless committed
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    // Creates the temporary file; false (with *error set) when it cannot be created.
    bool open(std::string* error);
    FILE* stream() { return stream_; }
    // Whether the destination existed when the output was opened (and so is synced).
    bool replaces_a_file() const { return replaces_; }
    // For an output that replaces a file: starts writing what has been written so far to the
    // disk without waiting for it, once enough has gathered since the last time, so that the
    // sync before the rename waits only for the last part instead of the whole file. Call it
    // from the thread that writes.
    void start_writeback();
    // Flushes, syncs (see above), closes and renames into place; false (with *error set) on
    // any failure.
    bool commit(std::string* error);

    // Makes SIGINT, SIGTERM and SIGHUP remove the temporary file being written before the
    // process ends as the signal would have ended it.
    static void remove_on_signals();
    // Removes the temporary file being written, if any: for other signal handlers that end
    // the process (it does only what a handler may do).
    static void remove_pending();

private:
    std::string destination_;
    std::string temporary_;
    FILE* stream_ = nullptr;
    long long writeback_from_ = 0;  // where the bytes not yet handed to the disk start
    bool replaces_ = false;
    bool committed_ = false;
};

// The permissions of a newly created ordinary file under the process's umask.
unsigned file_mode_for_umask();

}  // namespace kavel_common
