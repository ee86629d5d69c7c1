// The image editor's plug-in interface, as far as a file-format module uses it: the records the
// host passes to the entry point, the selectors, the result codes and the image modes.
//
// Host and module are built against this one header. Every procedure is called on the
// host's thread with the C calling convention.
#pragma once

#include <cstddef>
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
//
// The records are laid out as the image editor lays them out on Windows, on 32-bit x86 and on
// 64-bit x86-64: the format record packed to 4 bytes (a pointer after a 4-byte field has no
// hole before it), the other records with natural alignment. Every offset the module relies
// on is checked below. On Linux the same definitions give the x86-64 layout.

typedef int32_t Fixed;     // 16.16 fixed point
typedef uint8_t Boolean;   // 0 false, else true
typedef uint32_t OSType;   // four-character code
typedef void** Handle;     // the host's movable memory
typedef void (*HostProc)(void);  // host procedures the module never calls

// Opaque identifier of a host buffer.
typedef struct HostBuffer* BufferID;

typedef int16_t (*AllocateBufferProc)(int32_t size, BufferID* bufferID);
typedef uint8_t* (*LockBufferProc)(BufferID bufferID, Boolean moveHigh);
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
typedef Boolean (*TestAbortProc)(void);

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
    int16_t vRefNum;  // volume number; not used
    int32_t parID;    // directory id; not used
    uint8_t name[256];
};

// The owner window of anything the module shows; null for none.
struct PlatformData {
    void* hwnd;
};

// The parameter block of the about selector. The host's record goes on with fields a
// file-format module leaves alone.
struct AboutRecord {
    PlatformData* platformData;
    void* basicSuite;  // not used by file-format modules
    void* plugInRef;   // not used by file-format modules
};

#pragma pack(push, 4)

// The parameter block of every selector but the about selector. The host's record goes on
// beyond advanceState with fields the module leaves alone.
struct FormatRecord {
    int32_t serialNumber;
    TestAbortProc abortProc;
    ProgressProc progressProc;
    int32_t maxData;
    int32_t minDataBytes;
    int32_t maxDataBytes;
    int32_t minRsrcBytes;
    int32_t maxRsrcBytes;
    intptr_t dataFork;
    intptr_t rsrcFork;
    HostFileSpec* fileSpec;

    int16_t imageMode;
    HostPoint16 imageSize;
    int16_t depth;
    int16_t planes;
    Fixed imageHRes;  // pixels per inch
    Fixed imageVRes;
    uint8_t redLUT[256];
    uint8_t greenLUT[256];
    uint8_t blueLUT[256];

    void* data;  // the tile being handed over, or null
    HostRect16 theRect;
    int16_t loPlane;
    int16_t hiPlane;
    int16_t colBytes;
    int32_t rowBytes;
    int32_t planeBytes;
    int16_t planeMap[16];
    Boolean canTranspose;
    Boolean needTranspose;
    OSType hostSig;
    HostProc hostProc;
    int16_t hostModes;
    Handle revertInfo;
    HostProc hostNewHdl;
    HostProc hostDisposeHdl;
    Handle imageRsrcData;
    int32_t imageRsrcSize;
    Fixed monitor[10];

    PlatformData* platformData;
    BufferProcs* bufferProcs;
    void* resourceProcs;
    HostProc processEvent;
    HostProc displayPixels;
    void* handleProcs;
    OSType fileType;
    HostProc colorServices;
    AdvanceStateProc advanceState;
};

#pragma pack(pop)

// The module's single export.
typedef void (*PluginEntryProc)(int16_t selector, void* parameterBlock, int32_t* data,
                                int16_t* result);

}  // extern "C"

// --- Layout checks --------------------------------------------------------------------------

// The offset a field has in the host's layout: x86 for 4-byte pointers, x86-64 for 8-byte ones.
constexpr size_t HostOffset(size_t x86, size_t x86_64) { return sizeof(void*) == 8 ? x86_64 : x86; }
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "the host runs on x86 or x86-64");
static_assert(sizeof(Fixed) == 4 && sizeof(Boolean) == 1 && sizeof(OSType) == 4);
static_assert(sizeof(intptr_t) == sizeof(void*) && sizeof(Handle) == sizeof(void*));
static_assert(sizeof(HostPoint16) == 4 && sizeof(HostRect16) == 8);

static_assert(offsetof(FormatRecord, progressProc) == HostOffset(8, 12));
static_assert(offsetof(FormatRecord, maxData) == HostOffset(12, 20));
static_assert(offsetof(FormatRecord, fileSpec) == HostOffset(40, 56));
static_assert(offsetof(FormatRecord, imageMode) == HostOffset(44, 64));
static_assert(offsetof(FormatRecord, imageSize) == HostOffset(46, 66));
static_assert(offsetof(FormatRecord, depth) == HostOffset(50, 70));
static_assert(offsetof(FormatRecord, planes) == HostOffset(52, 72));
static_assert(offsetof(FormatRecord, imageHRes) == HostOffset(56, 76));
static_assert(offsetof(FormatRecord, imageVRes) == HostOffset(60, 80));
static_assert(offsetof(FormatRecord, data) == HostOffset(832, 852));
static_assert(offsetof(FormatRecord, theRect) == HostOffset(836, 860));
static_assert(offsetof(FormatRecord, loPlane) == HostOffset(844, 868));
static_assert(offsetof(FormatRecord, hiPlane) == HostOffset(846, 870));
static_assert(offsetof(FormatRecord, colBytes) == HostOffset(848, 872));
static_assert(offsetof(FormatRecord, rowBytes) == HostOffset(852, 876));
static_assert(offsetof(FormatRecord, planeBytes) == HostOffset(856, 880));
static_assert(offsetof(FormatRecord, platformData) == HostOffset(968, 1012));
static_assert(offsetof(FormatRecord, bufferProcs) == HostOffset(972, 1020));
static_assert(offsetof(FormatRecord, advanceState) == HostOffset(1000, 1072));
static_assert(offsetof(AboutRecord, platformData) == HostOffset(0, 0));
static_assert(offsetof(PlatformData, hwnd) == HostOffset(0, 0));
static_assert(offsetof(BufferProcs, bufferProcsVersion) == HostOffset(0, 0));
static_assert(offsetof(BufferProcs, numBufferProcs) == HostOffset(2, 2));
static_assert(offsetof(BufferProcs, allocateProc) == HostOffset(4, 8));
static_assert(offsetof(BufferProcs, lockProc) == HostOffset(8, 16));
static_assert(offsetof(BufferProcs, unlockProc) == HostOffset(12, 24));
static_assert(offsetof(BufferProcs, freeProc) == HostOffset(16, 32));
static_assert(offsetof(BufferProcs, spaceProc) == HostOffset(20, 40));
static_assert(offsetof(HostFileSpec, name) == HostOffset(8, 8));
static_assert(sizeof(HostFileSpec::name) == 256);
static_assert(sizeof(FormatRecord::theRect) == 8 && sizeof(FormatRecord::imageSize) == 4);
static_assert(sizeof(FormatRecord) == HostOffset(1004, 1080));
