// A host for the read cycle's tests: a buffer suite over plain memory, and advanceState and
// progressProc that record what the module hands over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host_interface.h"

struct RecordedTile {
    HostRect16 rect;
    std::vector<uint8_t> bytes;  // the first 256 rows of the tile buffer
};

class RecordingHost {
  public:
    RecordingHost();
    ~RecordingHost();

    FormatRecord format{};
    BufferProcs suite{};
    HostFileSpec fileSpec{};

    std::vector<RecordedTile> tiles;
    std::vector<std::pair<int32_t, int32_t>> progress;
    int32_t failAdvanceAt = 0;  // 1-based tile that advanceState refuses
    int16_t failureCode = -128;
    int32_t allocations = 0;
    int32_t frees = 0;
    int32_t unlocks = 0;

    void SetFile(const std::string& path);

  private:
    static int16_t Allocate(int32_t size, BufferID* buffer);
    static uint8_t* Lock(BufferID buffer, uint8_t moveHigh);
    static void Unlock(BufferID buffer);
    static void Free(BufferID buffer);
    static int32_t Space();
    static int16_t Advance();
    static void Progress(int32_t done, int32_t total);
};
