#include "platform/cursor_masks.h"

#include <cstring>

namespace platform {

bool CursorMasksFromRows(const CursorResource& resource, CursorBits* bits) {
    for (int y = 0; y < 32; ++y) {
        const char* row = resource.rows[y];
        if (row == nullptr || std::strlen(row) != 32) return false;
        uint32_t andBits = 0;
        uint32_t xorBits = 0;
        for (int x = 0; x < 32; ++x) {
            const uint32_t bit = 0x80000000u >> x;
            switch (row[x]) {
                case '#':
                    break;
                case 'o':
                    xorBits |= bit;
                    break;
                case '~':
                    andBits |= bit;
                    xorBits |= bit;
                    break;
                default:
                    andBits |= bit;
                    break;
            }
        }
        bits->andMask[y] = andBits;
        bits->xorMask[y] = xorBits;
    }
    bits->hotSpotX = resource.hotSpotX;
    bits->hotSpotY = resource.hotSpotY;
    return true;
}

}  // namespace platform
