#include "format/region_request.h"

#include <bit>
#include <cstdio>

#include "format/image_header.h"
#include "format/pool.h"

float band_gain_low() { return std::bit_cast<float>(uint32_t{0x3F932639}); }
float band_gain_high() { return std::bit_cast<float>(uint32_t{0x3F5EAF75}); }

int make_region_request(const ByteSource& source, RegionRequest** request, int32_t scale, int32_t x0,
                        int32_t x1, int32_t y0, int32_t y1, int32_t stride) {
    auto* record = static_cast<RegionRequest*>(pool_alloc(sizeof(RegionRequest)));
    *request = record;
    if (record == nullptr) return 1;
    ByteStream stream(source);
    ImageHeader header{};
    const int read = read_image_header(&stream, &header);
    if (read != 0 || !header_is_usable(header)) return 1;
    if (scale < 0 || scale > header.levels) return 1;
    record->levels = header.levels;
    record->scale = scale;
    record->x0 = x0;
    record->x1 = x1;
    record->y0 = y0;
    record->y1 = y1;
    record->width = header.width;
    record->height = header.height;
    record->stride = stride;
    record->planes = header.planes;
    return 0;
}

int free_region_request(RegionRequest* request) { return pool_free(request); }

RegionRect region_request_rect(const RegionRequest* request) {
    if (request == nullptr) return RegionRect{0, 0, 0, 0};
    return RegionRect{request->x0, request->x1, request->y0, request->y1};
}

int32_t region_request_stride(const RegionRequest* request) {
    return request == nullptr ? 0 : request->stride;
}

int32_t region_request_rows(const RegionRequest* request) {
    return request == nullptr ? 0 : request->y1 - request->y0 + 1;
}

namespace {

BandNode* new_band_node() {
    auto* node = static_cast<BandNode*>(pool_alloc(sizeof(BandNode)));
    if (node == nullptr) return nullptr;
    node->size = static_cast<int32_t*>(pool_alloc(2 * sizeof(int32_t)));
    if (node->size == nullptr) return nullptr;
    node->size[0] = 0;
    node->size[1] = 0;
    node->subband = 0;
    node->gain = 1.0f;
    node->split = 0;
    for (BandNode*& child : node->children) child = nullptr;
    return node;
}

int split_band_node(BandNode* node) {
    if (node->split) return 1;
    node->split = 1;
    for (BandNode*& child : node->children) {
        child = new_band_node();
        if (child == nullptr) return 1;
    }
    return 0;
}

// Children are visited in the order 0, 2, 1, 3.
constexpr int kWalkOrder[4] = {0, 2, 1, 3};

void number_leaves(BandNode* node, int32_t* next) {
    if (!node->split) {
        node->subband = (*next)++;
        return;
    }
    for (int c : kWalkOrder) number_leaves(node->children[c], next);
}

// Gains and sizes of the children follow from the parent's: low halves take ceil, high halves
// floor; the gain is g x f(horizontal) x f(vertical), in double, rounded to single once.
void set_gains_and_sizes(BandNode* node) {
    if (!node->split) return;
    const int32_t w = node->size[0];
    const int32_t h = node->size[1];
    for (int c = 0; c < 4; ++c) {
        BandNode* child = node->children[c];
        const bool horizontal_high = (c & 2) != 0;
        const bool vertical_high = (c & 1) != 0;
        const double fh = horizontal_high ? band_gain_high() : band_gain_low();
        const double fv = vertical_high ? band_gain_high() : band_gain_low();
        child->gain = static_cast<float>(double{node->gain} * fh * fv);
        child->size[0] = horizontal_high ? w / 2 : w - w / 2;
        child->size[1] = vertical_high ? h / 2 : h - h / 2;
        set_gains_and_sizes(child);
    }
}

BandNode* copy_band_tree(const BandNode* node) {
    BandNode* copy = new_band_node();
    if (copy == nullptr) return nullptr;
    copy->size[0] = node->size[0];
    copy->size[1] = node->size[1];
    copy->subband = node->subband;
    copy->gain = node->gain;
    copy->split = node->split;
    if (node->split) {
        for (int c : kWalkOrder) {
            copy->children[c] = copy_band_tree(node->children[c]);
            if (copy->children[c] == nullptr) return nullptr;
        }
    }
    return copy;
}

}  // namespace

int build_band_plan(BandNode** plan, const RegionRequest* request) {
    *plan = nullptr;
    BandNode* root = new_band_node();
    if (root == nullptr) return 1;
    BandNode* node = root;
    for (int32_t level = 0; level < request->levels; ++level) {
        if (split_band_node(node) != 0) return 1;
        node = node->children[0];
    }
    int32_t next = 0;
    number_leaves(root, &next);
    root->gain = 1.0f;
    root->size[0] = request->width;
    root->size[1] = request->height;
    set_gains_and_sizes(root);

    node = root;
    if (request->scale < 0) {
        std::fprintf(stderr, "Scale %ld is not present.\n", static_cast<long>(request->scale));
        return 1;
    }
    for (int32_t s = 0; s < request->scale; ++s) {
        if (!node->split) {
            std::fprintf(stderr, "Scale %ld is not present.\n", static_cast<long>(request->scale));
            return 1;
        }
        node = node->children[0];
    }
    BandNode* copy = copy_band_tree(node);
    if (copy == nullptr) return 1;
    release_band_plan(root);
    *plan = copy;
    return 0;
}

void release_band_plan(BandNode* plan) {
    if (plan == nullptr) return;
    pool_free(plan->size);
    if (plan->split) {
        for (int c : kWalkOrder) release_band_plan(plan->children[c]);
    }
    pool_free(plan);
}
