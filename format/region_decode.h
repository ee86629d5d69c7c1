// The region decode: one region request carried out from the file into the caller's buffer.
#pragma once

#include <cstdint>

#include "format/byte_stream.h"

#include "format/image_header.h"
#include "format/region_request.h"

struct LeafNeed;  // decode/decode_driver.h

// A plan has at most 3L + 1 leaves.
constexpr int32_t kMaxRegionLeaves = 3 * kMaxLevels + 1;

// The leaves a region decode of the request reads (the same for every plane), with their needed
// rectangles, in walk order, into leaves (room for kMaxRegionLeaves). 1 when the band plan
// cannot be made.
int collect_region_leaves(const RegionRequest* request, LeafNeed* leaves, int32_t* count);

// Decodes the request into destination (8-bit, planes interleaved, rows request->stride bytes
// apart, the request's (x0, y0) at byte 0). Returns 0 on success; on failure returns 1,
// releases the whole pool and leaves destination untouched.
//
// The destination must hold rows x stride bytes, and when the stride is shorter than a decoded
// row (P x columns bytes) also the P x columns bytes that the last row writes beyond that.
// The decode's failures (their class and reason) and its work account go to context, which
// also holds its work factor; the decode uses one of its own when none is given.
int decode_region(const ByteSource& source, RegionRequest* request, uint8_t* destination,
                  DecodeContext* context = nullptr);

// Builds and decodes the region tree of plane j (none when the request lies beyond the image).
int plan_plane_region(RegionNode** region, const BandNode* plan, const RegionRequest* request,
                      ByteStream* stream, int32_t plane, int32_t planes);

// Writes the reconstructed planes into the destination (truncation, clamping to 0..255); with
// colour, three planes of Y, I and Q are stored as R, G and B (convert_colours on the fly).
void store_planes(RegionNode* const* regions, int32_t planes, const RegionRequest* request,
                  uint8_t* destination, bool colour = false);

// The byte a sample value stores as (0..255, as an integer): truncation toward zero, clamped
// to 0..255; NaN stores 0.
inline int32_t sample_to_level(float value) {
    const float positive = value > 0.0f ? value : 0.0f;  // NaN and values up to 0 give 0
    const float clamped = positive < 255.0f ? positive : 255.0f;
    return static_cast<int32_t>(clamped);
}
inline uint8_t sample_to_byte(float value) { return static_cast<uint8_t>(sample_to_level(value)); }
