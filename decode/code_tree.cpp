#include "decode/code_tree.h"

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
    for (int k = 0; k < count; ++k) {
        while (lengths[k] != length) {
            ++length;
            code <<= 1;
        }
        // A canonical code that has run out of values of its length is not a valid code.
        if (code >> length != 0) return 1;
        int node = 0;
        for (int bit_index = length - 1; bit_index >= 1; --bit_index) {
            const int bit = (code >> bit_index) & 1;
            uint16_t& slot = tree->slots[bit][node];
            if (slot == kEmptySlot) {
                if (next_node > 255) return 1;
                slot = static_cast<uint16_t>(next_node++);
            } else if (slot >= kLeafBase) {
                return 1;  // a shorter code is a prefix of this one
            }
            node = slot;
        }
        uint16_t& leaf = tree->slots[code & 1][node];
        if (leaf != kEmptySlot) return 1;  // this code is a prefix of another, or repeated
        leaf = static_cast<uint16_t>(kLeafBase + table.symbols[k]);
        ++code;
    }
    return 0;
}
