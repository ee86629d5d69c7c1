#include "format/region_decode.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decode/decode_driver.h"
#include "decode/vector_clones.h"
#include "decode/wavelet.h"
#include "format/image_header.h"
#include "format/pool.h"

namespace {

constexpr int kWalkOrder[4] = {0, 2, 1, 3};
constexpr int32_t kMaxLeaves = kMaxRegionLeaves;

// Integer halving that rounds up, for possibly negative numerators.
int32_t half_up(int64_t value) {
    return static_cast<int32_t>(value >= 0 ? (value + 1) / 2 : value / 2);
}
// Integer halving that rounds toward zero.
int32_t half_down(int64_t value) { return static_cast<int32_t>(value / 2); }

RegionNode* new_region_node() {
    auto* node = static_cast<RegionNode*>(pool_alloc(sizeof(RegionNode)));
    if (node == nullptr) return nullptr;
    node->split = 0;
    node->x0 = node->x1 = node->y0 = node->y1 = 0;
    node->size = static_cast<int32_t*>(pool_alloc(2 * sizeof(int32_t)));
    if (node->size == nullptr) return nullptr;
    node->size[0] = node->size[1] = 0;
    node->coefficients = nullptr;
    node->gain = 1.0f;
    for (RegionNode*& child : node->children) child = nullptr;
    return node;
}

// The reach of the synthesis filters: a low-pass coefficient k feeds the samples 2k-3..2k+3,
// a high-pass coefficient k feeds 2k-3..2k+5, so the child needs these indices.
void child_range(int32_t first, int32_t last, bool high, int32_t* child_first,
                 int32_t* child_last) {
    *child_first = half_up(int64_t{first} - (high ? 5 : 3));
    *child_last = half_down(int64_t{last} + 3);
}

// Cuts a rectangle to a band.
void clip_to_band(RegionRect* rect, const BandNode* band) {
    if (rect->x0 < 0) rect->x0 = 0;
    if (rect->x1 > band->size[0] - 1) rect->x1 = band->size[0] - 1;
    if (rect->y0 < 0) rect->y0 = 0;
    if (rect->y1 > band->size[1] - 1) rect->y1 = band->size[1] - 1;
}

bool rect_is_empty(const RegionRect& rect) { return rect.x0 > rect.x1 || rect.y0 > rect.y1; }

// The rectangle of child c from its parent's.
RegionRect child_rect(const RegionRect& parent, int c) {
    RegionRect child{};
    child_range(parent.x0, parent.x1, (c & 2) != 0, &child.x0, &child.x1);
    child_range(parent.y0, parent.y1, (c & 1) != 0, &child.y0, &child.y1);
    return child;
}

// The request's rectangle cut to the image band (empty when the request lies beyond it).
RegionRect root_rect(const BandNode* plan, const RegionRequest* request) {
    RegionRect rect{request->x0, request->x1, request->y0, request->y1};
    clip_to_band(&rect, plan);
    return rect;
}

// The leaves the region walk decodes, with their needed rectangles, in walk order: the same
// for every plane.
void collect_leaves(const BandNode* band, RegionRect rect, LeafNeed* leaves, int32_t* count,
                    int32_t capacity) {
    clip_to_band(&rect, band);
    if (!band->split) {
        if (!rect_is_empty(rect) && *count < capacity) leaves[(*count)++] = {band->subband, rect};
        return;
    }
    for (int c : kWalkOrder) {
        collect_leaves(band->children[c], child_rect(rect, c), leaves, count, capacity);
    }
}

int region_walk(RegionNode* node, const BandNode* band, ByteStream* stream, int32_t scale, int32_t plane,
                int32_t planes) {
    node->size[0] = band->size[0];
    node->size[1] = band->size[1];
    RegionRect rect{node->x0, node->x1, node->y0, node->y1};
    clip_to_band(&rect, band);
    node->x0 = rect.x0;
    node->x1 = rect.x1;
    node->y0 = rect.y0;
    node->y1 = rect.y1;
    node->split = band->split;
    if (!band->split) {
        node->gain = band->gain;
        // A band with no columns or rows (the high half of a band one sample wide or high)
        // has nothing to decode and contributes nothing.
        if (node->x0 > node->x1 || node->y0 > node->y1) return 0;
        return decode_subband(stream, node, band->subband, scale, plane, planes);
    }
    for (int c : kWalkOrder) {
        RegionNode* child = new_region_node();
        if (child == nullptr) return 1;
        node->children[c] = child;
        const RegionRect rect_of_child = child_rect(rect, c);
        child->x0 = rect_of_child.x0;
        child->x1 = rect_of_child.x1;
        child->y0 = rect_of_child.y0;
        child->y1 = rect_of_child.y1;
        if (region_walk(child, band->children[c], stream, scale, plane, planes) != 0) return 1;
    }
    return 0;
}

}  // namespace

int plan_plane_region(RegionNode** region, const BandNode* plan, const RegionRequest* request,
                      ByteStream* stream, int32_t plane, int32_t planes) {
    *region = nullptr;
    RegionNode* root = new_region_node();
    if (root == nullptr) return 1;
    const RegionRect rect = root_rect(plan, request);
    root->x0 = rect.x0;
    root->x1 = rect.x1;
    root->y0 = rect.y0;
    root->y1 = rect.y1;
    if (rect_is_empty(rect)) {
        release_region(root);
        return 0;
    }
    *region = root;
    return region_walk(root, plan, stream, request->scale, plane, planes);
}

namespace {

// Pixels of a colour row converted at a time: each step of the conversion (colour transform,
// clamping, interleaving) runs over this many (in arrays on the stack), which the vectoriser
// makes into plain vector loops where one loop from three planes to bytes turns into masked
// selects and permutes.
constexpr int64_t kStoreStretch = 256;

// Stores one row of w samples of each plane as bytes, planes interleaved (with colour, three
// planes of Y, I and Q as R, G and B).
KAVEL_VECTOR_CLONES void store_row(const float* const* in, int32_t planes, int64_t w,
                                   uint8_t* __restrict out, bool colour) {
    if (planes == 1) {
        const float* __restrict grey = in[0];
        for (int64_t k = 0; k < w; ++k) out[k] = sample_to_byte(grey[k]);
        return;
    }
    if (planes == 3) {
        const float* __restrict in0 = in[0];
        const float* __restrict in1 = in[1];
        const float* __restrict in2 = in[2];
        if (colour) {
            alignas(64) float rgb[3][kStoreStretch];
            alignas(64) int32_t levels[3][kStoreStretch];
            for (int64_t first = 0; first < w; first += kStoreStretch) {
                const int64_t n = std::min(w - first, kStoreStretch);
                for (int64_t k = 0; k < n; ++k) {
                    const ColourSample c = colour_of(in0[first + k], in1[first + k], in2[first + k]);
                    rgb[0][k] = c.r;
                    rgb[1][k] = c.g;
                    rgb[2][k] = c.b;
                }
                for (int64_t k = 0; k < n; ++k) {
                    for (int j = 0; j < 3; ++j) levels[j][k] = sample_to_level(rgb[j][k]);
                }
                uint8_t* __restrict o = out + 3 * first;
                for (int64_t k = 0; k < n; ++k) {
                    o[3 * k] = static_cast<uint8_t>(levels[0][k]);
                    o[3 * k + 1] = static_cast<uint8_t>(levels[1][k]);
                    o[3 * k + 2] = static_cast<uint8_t>(levels[2][k]);
                }
            }
        } else {
            for (int64_t k = 0; k < w; ++k) {
                out[3 * k] = sample_to_byte(in0[k]);
                out[3 * k + 1] = sample_to_byte(in1[k]);
                out[3 * k + 2] = sample_to_byte(in2[k]);
            }
        }
        return;
    }
    for (int32_t i = 0; i < planes; ++i) {
        const float* __restrict plane = in[i];
        for (int64_t k = 0; k < w; ++k) out[k * planes + i] = sample_to_byte(plane[k]);
    }
}

// Where the root's rectangle is not the whole request (the request reaches beyond the image),
// the rest of the destination is black: cleared first, the root's pixels written over it.
void clear_outside_root(const RegionNode* root, const RegionRequest* request,
                        uint8_t* destination) {
    const int64_t rows = int64_t{request->y1} - request->y0 + 1;
    const int64_t stride = request->stride;
    if (root == nullptr || root->x0 != request->x0 || root->x1 != request->x1 ||
        root->y0 != request->y0 || root->y1 != request->y1) {
        if (rows > 0 && stride > 0) {
            std::memset(destination, 0, static_cast<std::size_t>(rows * stride));
        }
    }
}

// The planes' roots, split, synthesised tile by tile straight into the destination's bytes,
// so that the root's coefficients never go through memory: every check and allocation comes
// first, so that a failure leaves the destination untouched. The tiles are written in an order
// other than row by row, so this serves only strides that keep the rows apart.
int synthesise_and_store(RegionNode* const* regions, int32_t planes, const RegionRequest* request,
                         uint8_t* destination, bool colour) {
    const RegionNode* root = regions[0];
    const int64_t w = int64_t{root->x1} - root->x0 + 1;
    const int64_t h = int64_t{root->y1} - root->y0 + 1;
    const auto tile_rows = static_cast<int32_t>(std::min<int64_t>(h, kTileRows));
    const auto tile_columns = static_cast<int32_t>(std::min<int64_t>(w, kTileColumns));
    const int32_t tile_floats = tile_rows * tile_columns;
    auto* synthesis = static_cast<TileSynthesis*>(
        pool_calloc(planes, static_cast<int32_t>(sizeof(TileSynthesis))));
    if (synthesis == nullptr) return 1;
    const int64_t tile_bytes = int64_t{planes} * tile_floats * int64_t{sizeof(float)};
    if (tile_bytes > INT32_MAX) return 1;
    auto* tiles = static_cast<float*>(pool_alloc(static_cast<int32_t>(tile_bytes)));
    if (tiles == nullptr) return 1;
    for (int32_t j = 0; j < planes; ++j) {
        if (regions[j] == nullptr || !regions[j]->split || regions[j]->x0 != root->x0 ||
            regions[j]->x1 != root->x1 || regions[j]->y0 != root->y0 ||
            regions[j]->y1 != root->y1 || begin_tile_synthesis(regions[j], &synthesis[j]) != 0) {
            return 1;
        }
    }
    clear_outside_root(root, request, destination);
    const int64_t stride = request->stride;
    const int64_t dx = int64_t{root->x0} - request->x0;
    const int64_t dy = int64_t{root->y0} - request->y0;
    const float* in[kMaxPlanes];
    for (int64_t top = root->y0; top <= root->y1; top += kTileRows) {
        const auto bottom = static_cast<int32_t>(std::min<int64_t>(root->y1, top + kTileRows - 1));
        for (int64_t first = root->x0; first <= root->x1; first += kTileColumns) {
            const auto last =
                static_cast<int32_t>(std::min<int64_t>(root->x1, first + kTileColumns - 1));
            for (int32_t j = 0; j < planes; ++j) {
                synthesise_tile(synthesis[j], static_cast<int32_t>(top), bottom,
                                static_cast<int32_t>(first), last, tiles + j * tile_floats,
                                tile_columns);
            }
            for (int64_t r = top; r <= bottom; ++r) {
                for (int32_t j = 0; j < planes; ++j) {
                    in[j] = tiles + j * tile_floats + (r - top) * tile_columns;
                }
                uint8_t* out =
                    destination + (dy + r - root->y0) * stride + (dx + first - root->x0) * planes;
                store_row(in, planes, last - first + 1, out, colour);
            }
        }
    }
    for (int32_t j = 0; j < planes; ++j) end_tile_synthesis(&synthesis[j]);
    pool_free(tiles);
    pool_free(synthesis);
    return 0;
}

}  // namespace

void store_planes(RegionNode* const* regions, int32_t planes, const RegionRequest* request,
                  uint8_t* destination, bool colour) {
    const RegionNode* root = regions[0];
    clear_outside_root(root, request, destination);
    if (root == nullptr) return;
    const int64_t stride = request->stride;
    const int64_t dx = int64_t{root->x0} - request->x0;
    const int64_t dy = int64_t{root->y0} - request->y0;
    const int64_t w = int64_t{root->x1} - root->x0 + 1;
    const int64_t h = int64_t{root->y1} - root->y0 + 1;
    // Rows top to bottom; a row's extra pixel (when the stride is short) is overwritten by the
    // next row, whatever the order of the planes within a row.
    const float* in[kMaxPlanes];
    for (int64_t r = 0; r < h; ++r) {
        for (int32_t j = 0; j < planes; ++j) in[j] = regions[j]->coefficients + r * w;
        store_row(in, planes, w, destination + (dy + r) * stride + dx * planes, colour);
    }
}

int collect_region_leaves(const RegionRequest* request, LeafNeed* leaves, int32_t* count) {
    *count = 0;
    BandNode* plan = nullptr;
    if (build_band_plan(&plan, request) != 0) return 1;
    const RegionRect rect = root_rect(plan, request);
    if (!rect_is_empty(rect)) collect_leaves(plan, rect, leaves, count, kMaxRegionLeaves);
    release_band_plan(plan);
    return 0;
}

int decode_region(const ByteSource& source, RegionRequest* request, uint8_t* destination,
                  DecodeContext* context) {
    ByteStream opened(source, context);
    ByteStream* stream = &opened;
    auto fail = [&]() {
        // What the decode kept is released first (its file window holds memory of its own),
        // then every block the failed decode still holds.
        close_region_decode(stream, true);
        pool_free_all();
        return 1;
    };
    ImageHeader header{};
    if (read_image_header(stream, &header) != 0 || !header_is_usable(header)) return fail();
    // The request must describe this file (it was made from the same path).
    if (header.planes != request->planes || header.levels != request->levels ||
        header.width != request->width || header.height != request->height || request->scale < 0 ||
        request->scale > header.levels) {
        return fail();
    }
    const int32_t planes = header.planes;
    // The leaves are the same for every plane: the decode driver shares each tile directory
    // between the leaves and planes that name it, and bounds the decode's work.
    LeafNeed leaves[kMaxLeaves];
    int32_t leaf_count = 0;
    if (collect_region_leaves(request, leaves, &leaf_count) != 0) return fail();
    if (open_region_decode(stream, planes, leaves, leaf_count) != 0) return fail();
    auto** regions =
        static_cast<RegionNode**>(pool_calloc(planes, static_cast<int32_t>(sizeof(RegionNode*))));
    if (regions == nullptr) return fail();
    // The roots of split regions are synthesised as their pixels are stored, where the rows
    // of the destination do not overlap (the straightforward decoder always takes whole nodes).
    const DecoderOverride* decoder = stream->context()->decoder;
    const bool fused =
        decoder == nullptr &&
        request->stride >= int64_t{planes} * (int64_t{request->x1} - request->x0 + 1);
    bool split = false;
    for (int32_t j = 0; j < planes; ++j) {
        BandNode* plan = nullptr;
        if (build_band_plan(&plan, request) != 0) return fail();
        if (plan_plane_region(&regions[j], plan, request, stream, j, planes) != 0) return fail();
        release_band_plan(plan);
        // Every plane has the same tree: the first decides.
        if (j == 0) split = regions[0] != nullptr && regions[0]->split;
        const int reconstructed =
            fused && split ? reconstruct_children(regions[j])
                            : reconstruct_region(regions[j], decoder);
        if (reconstructed != 0) return fail();
    }
    close_region_decode(stream, true);
    // Three planes are Y, I and Q: the colour transform is made as the pixels are stored.
    if (fused && split) {
        if (synthesise_and_store(regions, planes, request, destination, planes == 3) != 0) {
            return fail();
        }
    } else {
        store_planes(regions, planes, request, destination, planes == 3);
    }
    for (int32_t j = 0; j < planes; ++j) release_region(regions[j]);
    pool_free(regions);
    return 0;
}
