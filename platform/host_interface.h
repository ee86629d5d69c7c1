// The image editor's plug-in interface, as far as a file-format module uses it: the records the
// host passes to the entry point, the selectors, the result codes and the image modes.
//
// Host and module are built against this one header, so the layout only has to agree with
// itself. Every procedure is called on the host's thread.
#pragma once

#include <cstdint>

extern "C" {

// --- Selectors ----------------------------------------------------------------------------

enum : int16_t {
    formatSelectorAbout = 0,
    formatSelectorReadPrepare = 1,
    formatSelectorReadStart = 2,
    formatSelectorReadContinue = 3,
    formatSelectorReadFinish = 4,
    formatSelectorOptionsPrepare = 5,
    formatSelectorOptionsStart = 6,
    formatSelectorOptionsContinue = 7,
    formatSelectorOptionsFinish = 8,
    formatSelectorEstimatePrepare = 9,
    formatSelectorEstimateStart = 10,
    formatSelectorEstimateContinue = 11,
    formatSelectorEstimateFinish = 12,
    formatSelectorWritePrepare = 13,
    formatSelectorWriteStart = 14,
    formatSelectorWriteContinue = 15,
    formatSelectorWriteFinish = 16,
    formatSelectorFilterFile = 17,
};

// --- Results ------------------------------------------------------------------------------

// 0 goes on; a positive result ends the read without a message from the host (the user
// cancelled, or the module has already said why); negative results are errors the host
// reports.
enum : int16_t {
    noErr = 0,
    userCanceledResult = 1,
    readErr = -19,      // the file could not be read or decoded
    memFullErr = -108,  // no buffer suite, or no memory from it
    formatBadParameters = -30500,
};

// --- Image modes --------------------------------------------------------------------------

enum : int16_t {
    plugInModeBitmap = 0,
    plugInModeGrayScale = 1,
    plugInModeIndexedColor = 2,
    plugInModeRGBColor = 3,
};

// --- Records ------------------------------------------------------------------------------

// Opaque identifier of a host buffer.
typedef struct HostBuffer* BufferID;

typedef int16_t (*AllocateBufferProc)(int32_t size, BufferID* bufferID);
typedef uint8_t* (*LockBufferProc)(BufferID bufferID, uint8_t moveHigh);
typedef void (*UnlockBufferProc)(BufferID bufferID);
typedef void (*FreeBufferProc)(BufferID bufferID);
typedef int32_t (*BufferSpaceProc)(void);

// The host's buffer suite. A module may use it only when the version is 2, at least five
// procedures are declared and all five are present.
struct BufferProcs {
    int16_t bufferProcsVersion;
    int16_t numBufferProcs;
    AllocateBufferProc allocateProc;
    LockBufferProc lockProc;
    UnlockBufferProc unlockProc;
    FreeBufferProc freeProc;
    BufferSpaceProc spaceProc;
};

constexpr int16_t kCurrentBufferProcsVersion = 2;
constexpr int16_t kCurrentBufferProcsCount = 5;

typedef void (*ProgressProc)(int32_t done, int32_t total);
typedef int16_t (*AdvanceStateProc)(void);

struct HostPoint16 {
    int16_t v;  // rows
    int16_t h;  // columns
};

struct HostRect16 {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

// The file the host asks the module to read: name is a length-prefixed string (one length
// byte, then up to 255 characters of the full path, not terminated).
struct HostFileSpec {
    uint8_t name[256];
};

// The owner window of anything the module shows; null for none.
struct PlatformData {
    void* hwnd;
};

struct AboutRecord {
    void* serialNumber;  // not used by file-format modules
    PlatformData* platformData;
};

// The parameter block of every selector but the about selector.
struct FormatRecord {
    int32_t serialNumber;
    ProgressProc progressProc;
    int32_t maxData;
    HostFileSpec* fileSpec;

    int16_t imageMode;
    HostPoint16 imageSize;
    int16_t depth;
    int16_t planes;
    int32_t imageHRes;  // 16.16 fixed point, pixels per inch
    int32_t imageVRes;

    void* data;  // the tile being handed over, or null
    HostRect16 theRect;
    int16_t loPlane;
    int16_t hiPlane;
    int16_t colBytes;
    int32_t rowBytes;
    int32_t planeBytes;

    AdvanceStateProc advanceState;
    BufferProcs* bufferProcs;
    PlatformData* platformData;
};

// The module's single export.
typedef void (*PluginEntryProc)(int16_t selector, void* parameterBlock, int32_t* data,
                                int16_t* result);

}  // extern "C"
