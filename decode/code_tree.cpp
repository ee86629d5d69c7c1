#include "decode/code_tree.h"

#include <algorithm>
#include <bit>

int build_code_tree(const CodeTable& table, CodeTree* tree) {
    for (int bit = 0; bit < 2; ++bit) {
        for (uint16_t& slot : tree->slots[bit]) slot = kEmptySlot;
    }
    // Code lengths in order, each code length L appearing c[L] times.
    uint8_t lengths[257];
    int count = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < table.counts[length - 1]; ++i) {
            if (count == 256) return 1;
            lengths[count++] = static_cast<uint8_t>(length);
        }
    }
    if (count == 0) return 1;
    lengths[count] = 0;

    uint32_t code = 0;
    int length = lengths[0];
    int next_node = 1;
    // Consecutive canonical codes share their leading bits: the walk of each code starts
    // from the node where it parts from the previous one (path[d] is the node at depth d).
    uint16_t path[17];
    path[0] = 0;
    uint32_t previous = 0;
    int previous_length = 0;
    for (int k = 0; k < count; ++k) {
        while (lengths[k] != length) {
            ++length;
            code <<= 1;
        }
        // A canonical code that has run out of values of its length is not a valid code.
        if (code >> length != 0) return 1;
        int depth = 0;
        if (previous_length > 0) {
            const uint32_t a = code << (16 - length), b = previous << (16 - previous_length);
            const uint32_t differ = (a ^ b) & 0xFFFFu;
            const int common = differ == 0 ? 16 : std::countl_zero(differ) - 16;
            depth = std::min({common, length - 1, previous_length - 1});
        }
        int node = path[depth];
        for (int bit_index = length - 1 - depth; bit_index >= 1; --bit_index) {
            const int bit = (code >> bit_index) & 1;
            uint16_t& slot = tree->slots[bit][node];
            if (slot == kEmptySlot) {
                if (next_node > 255) return 1;
                slot = static_cast<uint16_t>(next_node++);
            } else if (slot >= kLeafBase) {
                return 1;  // a shorter code is a prefix of this one
            }
            node = slot;
            path[length - bit_index] = static_cast<uint16_t>(node);
        }
        uint16_t& leaf = tree->slots[code & 1][node];
        if (leaf != kEmptySlot) return 1;  // this code is a prefix of another, or repeated
        leaf = static_cast<uint16_t>(kLeafBase + table.symbols[k]);
        previous = code;
        previous_length = length;
        ++code;
    }
    return 0;
}
