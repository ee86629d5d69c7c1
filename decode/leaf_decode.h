// What the decoding of one leaf works with: the leaf and its needed rectangle, the work
// budget its region decode spends from, and what the work costs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "decode/decode_driver.h"
#include "decode/file_window.h"
#include "format/byte_stream.h"
#include "format/decode_context.h"
#include "format/region_request.h"

// The work budget (see open_region_decode): what a region decode may spend per byte of the
// file, and each leaf per needed sample and at least; then what the work costs. A decoded
// symbol costs 1. A tile stream (a seek, its start, its decoding tables) and a block (a seek
// and a read, often a system call each) cost as much as a few hundred and a few dozen symbols.
// A valid file's streams, block offsets and block data are distinct bytes, each decoded once
// per decode: a stream's 30 bytes or more cost 256, a block's 4-byte offset and 2-byte marker
// 24, a data byte at most 8 symbols, so a valid file spends at most about 8.5 per byte.
inline constexpr int64_t kWorkPerFileByte = 16;
inline constexpr int64_t kWorkPerNeededSample = 4;
inline constexpr int64_t kWorkSlack = 65536;
inline constexpr int64_t kWorkPerTile = 1;
inline constexpr int64_t kWorkPerStream = 256;
inline constexpr int64_t kWorkPerBlock = 24;
// Bytes the file window reads per unit of work.
inline constexpr int64_t kBytesPerWorkUnit = 16;

// A decode's work account (see open_region_decode).
struct WorkBudget {
    int64_t spent;
    int64_t allowed;
    DecodeContext* context = nullptr;  // told when the budget runs out
    // Adds work; false when the budget is exceeded.
    bool spend(int64_t amount) {
        spent += amount;
        if (spent <= allowed) return true;
        if (context != nullptr) {
            context->fail(DecodeStatus::limit,
                          context->place() + "the decode's work passed its allowance of " +
                              std::to_string(allowed) + " (the file, " +
                              "its data named again and again, costs more than the work factor " +
                              "allows)");
        }
        return false;
    }
    // Charges the reading of a block's bytes as a window of one buffer would read them (what
    // the file window keeps besides does not change the charge): a block that starts outside
    // the last read makes it read FileWindow::kSize bytes (fewer at the end of the file)
    // again, however often the same bytes were read before, and every 16 bytes of such a read
    // cost one unit (copying 16 bytes costs less than decoding a symbol). Both decoders charge
    // the same blocks at the same places, so they decide alike.
    bool charge_block_read(int64_t offset, int64_t file_size) {
        if (offset < 0) return true;  // refused as the block is read
        if (window_base >= 0 && offset >= window_base && offset < window_base + FileWindow::kSize) {
            return true;
        }
        window_base = FileWindow::refill_start(offset, window_base);
        const int64_t bytes = std::clamp<int64_t>(file_size - window_base, 0, FileWindow::kSize);
        return spend((bytes + kBytesPerWorkUnit - 1) / kBytesPerWorkUnit);
    }
    int64_t window_base = -1;  // where the window's last read started (-1: none yet)
};

// What the tiles of one leaf share while it is decoded.
struct LeafDecode {
    ByteStream* stream;
    RegionNode* leaf;
    RegionRect needed;
    int64_t needed_width;
    int32_t scale;
    int32_t plane;
    DitherOrigin dither;
    int64_t file_size;
    WorkBudget* work;
    FileWindow* file;  // block bytes come through it when there is one

    // Where the intersection of the leaf with a block starts in the leaf's array.
    float* destination(const RegionRect& wanted) const {
        return leaf->coefficients + (int64_t{wanted.y0} - needed.y0) * needed_width +
               (wanted.x0 - needed.x0);
    }
};
