// The decoding tree of a tile stream's canonical prefix code.
//
// At most 256 nodes, node 0 the root; each node has a slot for bit 0 and one for bit 1 holding
// a node number (0..255), a leaf (256 + symbol) or the empty mark 666.
#pragma once

#include <cstdint>

#include "decode/decode_driver.h"

constexpr uint16_t kEmptySlot = 666;
constexpr uint16_t kLeafBase = 256;

struct CodeTree {
    uint16_t slots[2][256];
};

// Builds the tree with the canonical code assignment (code lengths from the counts, codes
// counted up and doubled at each new length). Fails for tables no valid file holds: no codes,
// more than 256 symbols, codes that overflow their length, codes that are not a prefix code,
// or a tree that needs more than 256 nodes.
int build_code_tree(const CodeTable& table, CodeTree* tree);
