// Fetching ahead what a window's decode will read, for sources where every request is costly
// (a remote file read through a reader with read_ranges). The decode reads a file in steps,
// each found from the one before: the header and subband pointer table, the tile directories
// of the subbands it needs, the starts of the tile streams whose tiles meet the needed
// rectangles, the rows of their block offset tables that it needs, and the blocks. Here every
// step's ranges go to the source in one read_ranges call (ranges a few kilobytes apart as one),
// and the decode then reads from the bytes held.
//
// Nothing here decides what the decode does: the ranges are found with the decoder's own
// reading routines, and where a structure cannot be read (damaged, cut short, a failed fetch)
// the steps stop and the decode reads the rest itself, failing as it would have.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "format/held_ranges_source.h"
#include "format/image_header.h"

// Ranges less than this many bytes apart are fetched as one; and while a step has more than
// kPrefetchMostRanges ranges, the narrowest gaps up to kPrefetchWidestGap bytes are fetched too
// (a request costs more than a few kilobytes more in it).
constexpr int64_t kPrefetchJoinGap = 4096;
constexpr std::size_t kPrefetchMostRanges = 8;
constexpr int64_t kPrefetchWidestGap = 32768;
// The blocks' step takes at most this many ranges less those of the steps after the directories
// (stream headers and offset rows), and never fewer than kPrefetchLeastBlockRanges: a window
// whose headers lie in several places then fetches its blocks in fewer, wider ranges, so that
// the requests of a window stay about the same.
constexpr std::size_t kPrefetchRangeBudget = 11;
constexpr std::size_t kPrefetchLeastBlockRanges = 4;

// The bytes held for the decode of the window (inclusive, in pixels at scale) of the image
// with this header, or null when the source does not read ranges (a local file or memory: it
// is then read as before).
std::unique_ptr<HeldRangesSource> prefetch_window(const ByteSource& source,
                                                  const ImageHeader& header, int32_t scale,
                                                  int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                                  int64_t join_gap = kPrefetchJoinGap);
