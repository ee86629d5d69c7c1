// Decodes a window in strips of rows on several threads and hands the rows to a writer in
// order, so that memory follows a few strips, not the window.
#pragma once

#include <cstdint>
#include <string>

#include "format/kavel.h"
#include "tools/picture_writer.h"

// Rows per strip for a window of that many columns: about two million samples, at least 16
// rows and at most 1024.
int64_t strip_rows_for(int64_t columns);

// Decodes window at scale in strips of strip_rows rows on `threads` threads (at least one)
// and writes its rows, top to bottom, through writer while later strips are decoded. On
// failure nothing more is written and *error tells why (*failed_in_output says whether the
// writer failed rather than the decode).
bool decode_in_strips(const kavel::Image& image, int32_t scale, const kavel::Window& window,
                      int64_t strip_rows, int threads, RowWriter& writer, std::string* error,
                      bool* failed_in_output);
