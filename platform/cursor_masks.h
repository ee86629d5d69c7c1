// The AND and XOR masks of a cursor drawn as rows of characters (see CursorResource).
#pragma once

#include "platform/cursor.h"
#include "platform/resources.h"

namespace platform {

// Both masks and the hot spot; false when a row is missing or not 32 characters long.
// '#' black (AND 0, XOR 0), 'o' white (0, 1), '~' inverting (1, 1), anything else
// transparent (1, 0).
bool CursorMasksFromRows(const CursorResource& resource, CursorBits* bits);

}  // namespace platform
