#include "host/plugin_host/host_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr int16_t kUserAbort = -128;

// A buffer the host hands out: plain memory, sized as asked.
struct BufferRecord {
    std::vector<uint8_t> memory;
    int locks = 0;
};

// Larger requests are refused as out of memory.
constexpr int32_t kMaxBuffer = 64 << 20;
// The document is refused beyond this many bytes.
constexpr int64_t kMaxDocument = int64_t(2) << 30;

struct Session {
    HostFaults faults;
    FormatRecord* format = nullptr;
    HostDocument* document = nullptr;
    bool documentReady = false;
    bool showProgress = false;
    ReadOutcome outcome;
    int32_t liveBuffers = 0;
};

Session* gSession = nullptr;

int16_t AllocateProc(int32_t size, BufferID* buffer) {
    *buffer = nullptr;
    if (gSession->faults.failAllocation || size <= 0 || size > kMaxBuffer) return memFullErr;
    auto* record = new (std::nothrow) BufferRecord();
    if (record == nullptr) return memFullErr;
    try {
        record->memory.assign(size_t(size), 0);
    } catch (const std::bad_alloc&) {
        delete record;
        return memFullErr;
    }
    ++gSession->liveBuffers;
    *buffer = reinterpret_cast<BufferID>(record);
    return noErr;
}

uint8_t* LockProc(BufferID buffer, uint8_t /*moveHigh*/) {
    if (buffer == nullptr) return nullptr;
    auto* record = reinterpret_cast<BufferRecord*>(buffer);
    ++record->locks;
    return record->memory.data();
}

void UnlockProc(BufferID buffer) {
    if (buffer != nullptr) --reinterpret_cast<BufferRecord*>(buffer)->locks;
}

void FreeProc(BufferID buffer) {
    if (buffer == nullptr) return;
    delete reinterpret_cast<BufferRecord*>(buffer);
    --gSession->liveBuffers;
}

int32_t SpaceProc() { return kMaxBuffer; }

// Creates the document from what start described.
int16_t PrepareDocument() {
    const FormatRecord& format = *gSession->format;
    HostDocument& document = *gSession->document;
    if (format.depth != 8 || format.imageSize.v <= 0 || format.imageSize.h <= 0 ||
        (format.imageMode != plugInModeGrayScale && format.imageMode != plugInModeRGBColor)) {
        return formatBadParameters;
    }
    document.rows = format.imageSize.v;
    document.columns = format.imageSize.h;
    document.planes = format.imageMode == plugInModeRGBColor ? 3 : 1;
    document.resolution = format.imageHRes >> 16;
    const int64_t bytes = int64_t(document.rows) * document.columns * document.planes;
    if (bytes > kMaxDocument) return memFullErr;
    try {
        document.pixels.assign(size_t(bytes), 0);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    gSession->documentReady = true;
    return noErr;
}

// Takes the tile the module hands over, clipped to the document.
int16_t HostAdvanceState() {
    Session& session = *gSession;
    ++session.outcome.tiles;
    // The user stopped the read while this tile arrived.
    if (session.faults.failAdvanceAtTile == session.outcome.tiles) return kUserAbort;
    const FormatRecord& format = *session.format;
    if (!session.documentReady || format.data == nullptr) return formatBadParameters;
    HostDocument& document = *session.document;
    if (format.colBytes != document.planes || format.planeBytes != 1 || format.loPlane != 0 ||
        format.hiPlane != document.planes - 1 || format.rowBytes <= 0) {
        return formatBadParameters;
    }
    const HostRect16& rect = format.theRect;
    const int32_t top = std::max<int32_t>(rect.top, 0);
    const int32_t left = std::max<int32_t>(rect.left, 0);
    const int32_t bottom = std::min<int32_t>(rect.bottom, document.rows);
    const int32_t right = std::min<int32_t>(rect.right, document.columns);
    if (right - rect.left > format.rowBytes / format.colBytes) return formatBadParameters;
    const auto* tile = static_cast<const uint8_t*>(format.data);
    for (int32_t y = top; y < bottom; ++y) {
        const uint8_t* source = tile + size_t(y - rect.top) * size_t(format.rowBytes) +
                                size_t(left - rect.left) * size_t(format.colBytes);
        uint8_t* target =
            document.pixels.data() +
            (size_t(y) * size_t(document.columns) + size_t(left)) * size_t(document.planes);
        if (right > left)
            std::memcpy(target, source, size_t(right - left) * size_t(document.planes));
    }
    return noErr;
}

void HostProgress(int32_t done, int32_t total) {
    Session& session = *gSession;
    ++session.outcome.progressCalls;
    if (!session.showProgress || total <= 0) return;
    constexpr int kWidth = 30;
    const int filled =
        static_cast<int>(std::clamp<int64_t>(int64_t(done) * kWidth / total, 0, kWidth));
    std::fprintf(stderr, "\r[%.*s%*s] %d/%d tiles", filled, "##############################",
                 kWidth - filled, "", done, total);
    if (done >= total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

ReadOutcome RunRead(PluginEntryProc entry, const std::string& file, const HostFaults& faults,
                    bool showProgress, HostDocument* document) {
    Session session;
    session.faults = faults;
    session.document = document;
    session.showProgress = showProgress;
    gSession = &session;

    HostFileSpec file_spec{};
    const size_t length = std::min<size_t>(file.size(), 255);
    file_spec.name[0] = static_cast<uint8_t>(length);
    std::memcpy(file_spec.name + 1, file.data(), length);

    BufferProcs suite{faults.bufferSuiteVersion,
                      kCurrentBufferProcsCount,
                      AllocateProc,
                      LockProc,
                      UnlockProc,
                      FreeProc,
                      SpaceProc};
    PlatformData platformData{nullptr};
    FormatRecord format{};
    format.serialNumber = 0;
    format.progressProc = HostProgress;
    format.maxData = 64 << 20;
    format.fileSpec = &file_spec;
    format.advanceState = HostAdvanceState;
    format.bufferProcs = faults.noBufferSuite ? nullptr : &suite;
    format.platformData = &platformData;
    session.format = &format;

    int32_t data = 0;
    int16_t result = noErr;
    auto step = [&](int16_t selector, const char* stage) {
        result = noErr;
        entry(selector, &format, &data, &result);
        if (result != noErr && session.outcome.result == noErr) {
            session.outcome.result = result;
            session.outcome.stage = stage;
        }
        return result == noErr;
    };

    if (file.size() > 255) {
        session.outcome.result = formatBadParameters;
        session.outcome.stage = "open (path longer than 255 characters)";
    } else if (step(formatSelectorReadPrepare, "prepare") &&
               step(formatSelectorReadStart, "start")) {
        const int16_t prepared = PrepareDocument();
        if (prepared != noErr) {
            session.outcome.result = prepared;
            session.outcome.stage = "document";
        } else {
            step(formatSelectorReadContinue, "continue");
        }
    }
    if (file.size() <= 255) step(formatSelectorReadFinish, "finish");

    session.outcome.buffersLeft = session.liveBuffers;
    gSession = nullptr;
    return session.outcome;
}

int16_t RunAbout(PluginEntryProc entry) {
    PlatformData platformData{nullptr};
    AboutRecord about{};
    about.platformData = &platformData;
    int32_t data = 0;
    int16_t result = noErr;
    entry(formatSelectorAbout, &about, &data, &result);
    return result;
}

std::string DescribeResult(int16_t result) {
    switch (result) {
        case noErr:
            return "done";
        case userCanceledResult:
            return "cancelled (the user cancelled, or the module said why)";
        case memFullErr:
            return "out of memory (no usable buffer suite, or no memory from it)";
        case formatBadParameters:
            return "bad parameters";
        case readErr:
            return "the file could not be read or decoded";
        case kUserAbort:
            return "stopped by the user";
        default:
            if (result > 0) return "cancelled (result " + std::to_string(result) + ")";
            return "error " + std::to_string(result);
    }
}
