// Pointer shapes: cursors loaded from the module's resources, the system's own, the wait
// cursor.
#pragma once

#include <cstdint>

namespace platform {

struct ModuleInstance;
struct NativeCursor;
using CursorHandle = NativeCursor*;

enum class SystemCursor { Arrow, Cross, IBeam, Wait };

// Cursor id of the module's resources, or null. Destroy it with DestroyCursor.
CursorHandle LoadCursorResource(const ModuleInstance* instance, uint16_t id);
// A system cursor; it is shared and must not be destroyed.
CursorHandle LoadSystemCursor(SystemCursor which);
void DestroyCursor(CursorHandle cursor);

// Hot spot and the two 32 x 32 masks of a cursor (bit set = AND mask / XOR mask bit set),
// rows top to bottom, most significant bit leftmost. False for a null or system cursor.
struct CursorBits {
    int32_t hotSpotX = 0;
    int32_t hotSpotY = 0;
    uint32_t andMask[32] = {};
    uint32_t xorMask[32] = {};
};
bool GetCursorBits(CursorHandle cursor, CursorBits* bits);

// Makes cursor the pointer shape of the window being asked for its cursor (see
// Dialog::OnSetCursor); returns the previous one.
CursorHandle SetCursor(CursorHandle cursor);

// The cursor last made the pointer shape with SetCursor (null for none or the default).
CursorHandle GetCursor();

// The busy pointer for the whole application while work runs; calls nest.
void BeginWaitCursor();
void EndWaitCursor();

}  // namespace platform
