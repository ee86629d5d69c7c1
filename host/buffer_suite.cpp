#include "host/buffer_suite.h"

bool BufferSuiteAvailable(const BufferProcs* suite) {
    return suite != nullptr && suite->bufferProcsVersion == kCurrentBufferProcsVersion &&
           suite->numBufferProcs >= kCurrentBufferProcsCount && suite->allocateProc != nullptr &&
           suite->lockProc != nullptr && suite->unlockProc != nullptr &&
           suite->freeProc != nullptr && suite->spaceProc != nullptr;
}

int16_t AllocateBuffer(const BufferProcs* suite, int32_t size, BufferID* buffer) {
    *buffer = nullptr;
    if (!BufferSuiteAvailable(suite)) return memFullErr;
    return suite->allocateProc(size, buffer);
}

uint8_t* LockBuffer(const BufferProcs* suite, BufferID buffer, bool moveHigh) {
    if (!BufferSuiteAvailable(suite)) return nullptr;
    return suite->lockProc(buffer, moveHigh ? 1 : 0);
}

void UnlockBuffer(const BufferProcs* suite, BufferID buffer) {
    if (BufferSuiteAvailable(suite)) suite->unlockProc(buffer);
}

void FreeBuffer(const BufferProcs* suite, BufferID buffer) {
    if (BufferSuiteAvailable(suite)) suite->freeProc(buffer);
}
