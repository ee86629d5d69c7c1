// What the image editor does around one read: its buffer suite, the document the tiles go
// into, advanceState and progressProc, and the selector sequence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host_interface.h"

// Ways to make the host misbehave on purpose, to see the module cope.
struct HostFaults {
    bool noBufferSuite = false;
    int16_t bufferSuiteVersion = kCurrentBufferProcsVersion;
    bool failAllocation = false;
    int32_t failAdvanceAtTile = 0;  // 1-based; 0 never
};

struct HostDocument {
    int32_t rows = 0;
    int32_t columns = 0;
    int32_t planes = 0;           // 1 grey, 3 RGB
    int32_t resolution = 0;       // pixels per inch (integer part of imageHRes)
    std::vector<uint8_t> pixels;  // rows x columns x planes, interleaved
};

struct ReadOutcome {
    int16_t result = 0;      // the first non-zero result, or 0
    const char* stage = "";  // the selector that gave it
    int32_t tiles = 0;       // advanceState calls
    int32_t progressCalls = 0;
    int32_t buffersLeft = 0;  // buffers the module allocated and did not free
};

// Runs prepare, start, continue and finish with the module's entry point on the file; the
// tiles go into *document. Finish is sent whenever prepare was.
ReadOutcome RunRead(PluginEntryProc entry, const std::string& file, const HostFaults& faults,
                    bool showProgress, HostDocument* document);

// Runs the about selector.
int16_t RunAbout(PluginEntryProc entry);

// A result in words.
std::string DescribeResult(int16_t result);
