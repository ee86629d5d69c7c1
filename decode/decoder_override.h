// Other routines for two stages of a region decode. Tests and fuzzers plug in the
// straightforward decoder (built with the tests, never into the library) to check that the fast
// one gives the same bytes and the same verdicts; a decode whose context names none takes the
// library's own routines.
#pragma once

#include <cstdint>

struct LeafDecode;
struct TileEntry;
struct RegionNode;

struct DecoderOverride {
    // Decodes one tile of a leaf for the leaf's plane, with the tile directory read whole for
    // every leaf (the library's fast path keeps only the records it needs and shares them).
    int (*decode_tile)(const LeafDecode& leaf, const TileEntry& tile);
    // Synthesises a split node whose children hold coefficients (as synthesise_node does).
    int (*synthesise_node)(RegionNode* node);
};
