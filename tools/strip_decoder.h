// Decodes a window in pieces on several threads and hands the bytes to a writer in order, so
// that memory follows a few pieces, not the window. A piece is a strip of whole rows, or,
// when one row alone holds more than a piece's samples, a part of one row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "kavel/kavel.hpp"
#include "tools/picture_writer.h"

// Samples (pixels x planes) in one piece: a few megabytes per thread, whatever the shape.
constexpr int64_t kPieceSamples = int64_t{1} << 21;

struct PiecePlan {
    int64_t rows = 1;     // rows per piece
    int64_t columns = 1;  // columns per piece (the window's width unless a row is cut)
    int64_t first_rows = 0;  // rows of the first strip of whole rows (0: rows)
    // Heap room each decoding thread offers to large pages before it starts (0: none; see
    // tools/heap_settings.h).
    std::size_t large_page_heap = 0;
};

// Pieces of at most kPieceSamples samples for a window of that shape: whole-row strips of
// up to 1024 rows (and at most max_rows), or single rows cut across the width.
PiecePlan plan_pieces(int64_t columns, int32_t planes, int64_t max_rows);
// The same with the strips of whole rows cut where the decode of a window whose top row is
// window_top, at scale of a file of levels levels, repeats the least work (format/strip_cuts.h),
// for `threads` threads: strips of fewer rows than two periods between such cuts are made two
// periods or one high when that takes at most kPieceSamples x 4 / threads samples (and at least
// twice kPieceSamples), so that the pieces in flight take about the same memory on any number
// of threads.
PiecePlan plan_pieces(int64_t columns, int32_t planes, int64_t max_rows, int64_t window_top,
                      int32_t scale, int32_t levels, int threads);

// Decodes window at scale piece by piece on `threads` threads (at least one) and writes its
// bytes, top to bottom and left to right, through writer while later pieces are decoded. On
// failure nothing more is written and *error tells why (*failed_in_output says whether the
// writer failed rather than the decode). progress (if set) hears the pieces written so far
// and their count.
bool decode_in_strips(const kavel::Image& image, int32_t scale, const kavel::Window& window,
                      const PiecePlan& plan, int threads, RowWriter& writer, std::string* error,
                      bool* failed_in_output,
                      const std::function<void(int64_t, int64_t)>& progress = {});
