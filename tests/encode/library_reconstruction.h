// Runs the library's own reconstruction (the inverse wavelet of the reader) on planes that the
// encoder's forward transform made, without quantisation or a file in between.
#pragma once

#include <cstring>
#include <vector>

#include "decode/wavelet.h"
#include "encode/forward_wavelet.h"
#include "format/pool.h"
#include "format/region_request.h"

namespace kavel_test {

// A region node for the whole band (x0..x1, y0..y1 = the band), from the pool.
inline RegionNode* whole_band_node(int32_t width, int32_t height) {
    auto* node = static_cast<RegionNode*>(pool_calloc(1, sizeof(RegionNode)));
    node->size = static_cast<int32_t*>(pool_alloc(2 * sizeof(int32_t)));
    node->size[0] = width;
    node->size[1] = height;
    node->x0 = 0;
    node->x1 = width - 1;
    node->y0 = 0;
    node->y1 = height - 1;
    node->gain = 1.0f;
    return node;
}

// Builds the region tree of the image at scale s over the subbands held in plane (the
// encoder's nested layout), with every band needed whole.
inline RegionNode* build_tree(const kavel::Plane& plane, int32_t levels, int32_t depth,
                              int32_t band_width, int32_t band_height, int32_t subband_parent_level,
                              double factor) {
    (void)subband_parent_level;
    RegionNode* node = whole_band_node(band_width, band_height);
    if (depth == levels) {
        // The final low-low band.
        if (band_width > 0 && band_height > 0) {
            node->coefficients = static_cast<float*>(
                pool_alloc(band_width * band_height * static_cast<int32_t>(sizeof(float))));
            for (int32_t y = 0; y < band_height; ++y)
                for (int32_t x = 0; x < band_width; ++x)
                    node->coefficients[y * band_width + x] =
                        static_cast<float>(plane.row(y)[x] * factor);
        }
        return node;
    }
    node->split = 1;
    const kavel::BandSize parent{band_width, band_height};
    const kavel::BandSize low = kavel::child_band_size(parent, 0);
    for (int32_t c = 0; c < 4; ++c) {
        const kavel::BandSize size = kavel::child_band_size(parent, c);
        if (c == 0) {
            node->children[0] =
                build_tree(plane, levels, depth + 1, size.width, size.height, depth + 1, factor);
            continue;
        }
        RegionNode* leaf = whole_band_node(size.width, size.height);
        if (size.width > 0 && size.height > 0) {
            leaf->coefficients = static_cast<float*>(
                pool_alloc(size.width * size.height * static_cast<int32_t>(sizeof(float))));
            const int32_t x0 = (c & 2) ? low.width : 0, y0 = (c & 1) ? low.height : 0;
            for (int32_t y = 0; y < size.height; ++y)
                for (int32_t x = 0; x < size.width; ++x)
                    leaf->coefficients[y * size.width + x] =
                        static_cast<float>(plane.row(y0 + y)[x0 + x] * factor);
        }
        node->children[c] = leaf;
    }
    return node;
}

// The plane at scale s (ceil(W/2^s) x ceil(H/2^s) samples, row-major) as the reader rebuilds
// it from the subbands of plane, each divided by c^s as the reader's dequantisation does.
inline std::vector<float> reconstruct_plane(const kavel::Plane& plane, int32_t levels,
                                            int32_t scale) {
    const kavel::BandSize band = kavel::band_size_at_scale(plane.width, plane.height, scale);
    double factor = 1.0;
    for (int32_t s = 0; s < scale; ++s) factor /= kavel::kScaleStepDivisor;
    RegionNode* root = build_tree(plane, levels, scale, band.width, band.height, scale, factor);
    std::vector<float> out;
    if (reconstruct_region(root) == 0 && root->coefficients != nullptr)
        out.assign(root->coefficients, root->coefficients + std::size_t(band.width) * band.height);
    release_region(root);
    pool_free_all();
    return out;
}

}  // namespace kavel_test
