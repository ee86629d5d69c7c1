// Wrappers over the host's buffer suite: every call checks first that the suite can be used.
#pragma once

#include <cstdint>

#include "platform/host_interface.h"

// True only for a suite of version 2 with at least five procedures, all five present.
bool BufferSuiteAvailable(const BufferProcs* suite);
// Sets *buffer to null, then asks the host for size bytes; memFullErr without a suite.
int16_t AllocateBuffer(const BufferProcs* suite, int32_t size, BufferID* buffer);
// The buffer's memory, or null without a suite. moveHigh is passed on as given.
uint8_t* LockBuffer(const BufferProcs* suite, BufferID buffer, bool moveHigh);
void UnlockBuffer(const BufferProcs* suite, BufferID buffer);
void FreeBuffer(const BufferProcs* suite, BufferID buffer);
