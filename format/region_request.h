// One region read (RegionRequest), the band plan (BandNode tree) and the region tree of one
// plane (RegionNode), which the decode driver fills and the reconstruction consumes.
//
// Rectangles are held as x0, x1, y0, y1 with inclusive bounds. All memory comes from the pool.
#pragma once

#include <cstdint>

#include "format/byte_source.h"

struct RegionRequest {
    int32_t levels;  // level count L of the file
    int32_t scale;   // 0 <= scale <= levels
    int32_t x0, x1, y0, y1;  // inclusive, in pixels of the image at scale; may reach beyond it
    int32_t width, height;   // full-resolution size
    int32_t stride;          // row stride of the destination in bytes
    // The plane count the request was made for: the decode refuses a file that has changed
    // under it, so that it never writes more bytes per pixel than the caller sized for.
    int32_t planes;
};

struct BandNode {
    int32_t* size;  // width, height (a separately allocated pair)
    int32_t subband;  // subband number (leaves only)
    float gain;
    uint8_t split;
    BandNode* children[4];
};

struct RegionNode {
    uint8_t split;
    int32_t x0, x1, y0, y1;  // needed rectangle, inclusive, in band coordinates
    int32_t* size;           // width, height of the whole band (separately allocated pair)
    float* coefficients;     // (x1-x0+1) x (y1-y0+1) floats, row-major; nullptr when empty
                             // or (a leaf other than the low-low band) when all are +0.0
    float gain;
    RegionNode* children[4];
};

struct RegionRect {
    int32_t x0, x1, y0, y1;
};

// Takes the record from the pool and stores it in *request at once (so that the caller can
// release it whatever the result); fails when the source's header cannot be read, makes no
// image, or the scale is outside 0..L. The header is read from the image's source (the file
// opened once), never from a path again.
int make_region_request(const ByteSource& source, RegionRequest** request, int32_t scale, int32_t x0,
                        int32_t x1, int32_t y0, int32_t y1, int32_t stride);
// Hands the record back to the pool; result as pool_free.
int free_region_request(RegionRequest* request);

// Accessors; a missing request gives zeros.
RegionRect region_request_rect(const RegionRequest* request);
int32_t region_request_stride(const RegionRequest* request);
int32_t region_request_rows(const RegionRequest* request);

// Builds the plan tree for the request's scale (prints "Scale %ld is not present.\n" when the
// tree is shallower than the scale).
int build_band_plan(BandNode** plan, const RegionRequest* request);
// Releases a plan tree: the node's band size, its children 0, 2, 1, 3, then the node.
void release_band_plan(BandNode* plan);

// Band gain factors (single-precision bit patterns 0x3F932639 and 0x3F5EAF75).
float band_gain_low();
float band_gain_high();
