#include "tests/host/recording_host.h"

#include <cstring>
#include <string>

namespace {

RecordingHost* gHost = nullptr;

}  // namespace

RecordingHost::RecordingHost() {
    gHost = this;
    suite = BufferProcs{
        kCurrentBufferProcsVersion, kCurrentBufferProcsCount, Allocate, Lock, Unlock, Free, Space};
    format.bufferProcs = &suite;
    format.advanceState = Advance;
    format.progressProc = Progress;
    format.fileSpec = &fileSpec;
}

RecordingHost::~RecordingHost() { gHost = nullptr; }

void RecordingHost::SetFile(const std::string& path) {
    std::memset(&fileSpec, 0, sizeof fileSpec);
    fileSpec.name[0] = static_cast<uint8_t>(path.size());
    std::memcpy(fileSpec.name + 1, path.data(), path.size());
}

int16_t RecordingHost::Allocate(int32_t size, BufferID* buffer) {
    ++gHost->allocations;
    *buffer = reinterpret_cast<BufferID>(new std::vector<uint8_t>(size_t(size), 0xCD));
    return 0;
}

uint8_t* RecordingHost::Lock(BufferID buffer, uint8_t /*moveHigh*/) {
    return reinterpret_cast<std::vector<uint8_t>*>(buffer)->data();
}

void RecordingHost::Unlock(BufferID /*buffer*/) { ++gHost->unlocks; }

void RecordingHost::Free(BufferID buffer) {
    ++gHost->frees;
    delete reinterpret_cast<std::vector<uint8_t>*>(buffer);
}

int32_t RecordingHost::Space() { return 1 << 26; }

int16_t RecordingHost::Advance() {
    RecordingHost& host = *gHost;
    RecordedTile tile;
    tile.rect = host.format.theRect;
    const auto* data = static_cast<const uint8_t*>(host.format.data);
    if (data != nullptr) tile.bytes.assign(data, data + size_t(host.format.rowBytes) * 256);
    host.tiles.push_back(std::move(tile));
    if (host.failAdvanceAt == static_cast<int32_t>(host.tiles.size())) return host.failureCode;
    return 0;
}

void RecordingHost::Progress(int32_t done, int32_t total) {
    gHost->progress.emplace_back(done, total);
}
