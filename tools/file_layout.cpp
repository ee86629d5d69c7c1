#include "tools/file_layout.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavel_tools {

namespace {

// Tile streams read per file at most, so that a file of millions of tiles stays quick.
constexpr int64_t kMaxStreamsRead = 20000;

class Reader {
public:
    explicit Reader(int descriptor, uint64_t size) : descriptor_(descriptor), size_(size) {}
    bool bytes(uint64_t offset, void* out, std::size_t count) const {
        if (offset > size_ || count > size_ - offset) return false;
        return ::pread(descriptor_, out, count, off_t(offset)) == ssize_t(count);
    }
    bool be32(uint64_t offset, int32_t* value) const {
        uint8_t b[4];
        if (!bytes(offset, b, 4)) return false;
        *value = int32_t(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]);
        return true;
    }
    uint64_t size() const { return size_; }

private:
    int descriptor_;
    uint64_t size_;
};

int64_t halve_up(int64_t n) { return n - n / 2; }

void read_subband(const Reader& file, int32_t planes, SubbandLayout* band, int64_t* budget) {
    int32_t directory = 0;
    if (!file.be32(23 + 4 * uint64_t(band->number), &directory) || directory < 0) {
        band->problem = "its entry in the subband table is missing or negative";
        return;
    }
    uint8_t head[4];
    int32_t count = 0;
    if (!file.bytes(uint64_t(directory), head, 4) || head[0] != 0xFF || head[1] != 0xAC ||
        !file.be32(uint64_t(directory) + 4, &count)) {
        band->problem = "no tile directory at offset " + std::to_string(directory);
        return;
    }
    const uint64_t record = 4 * uint64_t(planes) + 16;
    const uint64_t first = uint64_t(directory) + 8;
    if (count < 0 || uint64_t(count) * record > file.size() - std::min(file.size(), first)) {
        band->problem = "tile directory at offset " + std::to_string(directory) + ": " +
                        std::to_string(count) + " records do not fit in the file";
        return;
    }
    band->tiles = count;
    band->steps.assign(std::size_t(planes), PlaneSteps{});
    for (int64_t t = 0; t < count; ++t) {
        const uint64_t at = first + uint64_t(t) * record;
        int32_t corners[4];
        for (int c = 0; c < 4; ++c) {
            if (!file.be32(at + 4 * uint64_t(planes) + 4 * uint64_t(c), &corners[c])) return;
        }
        if (t == 0) {
            band->tile_width = int64_t(corners[2]) - corners[0] + 1;
            band->tile_height = int64_t(corners[3]) - corners[1] + 1;
        }
        for (int32_t p = 0; p < planes; ++p) {
            if (*budget <= 0) {
                band->complete = false;
                return;
            }
            int32_t stream = 0;
            if (!file.be32(at + 4 * uint64_t(p), &stream) || stream <= 0) continue;
            --*budget;
            uint8_t counts[18];
            if (!file.bytes(uint64_t(stream), counts, 18) || counts[0] != 0xFF ||
                counts[1] != 0xAA) {
                band->complete = false;
                continue;
            }
            uint64_t symbols = 0;
            for (int i = 2; i < 18; ++i) symbols += counts[i];
            const uint64_t tail = uint64_t(stream) + 18 + symbols;
            int32_t step_bits = 0, block_width = 0, block_height = 0;
            if (!file.be32(tail, &step_bits) || !file.be32(tail + 4, &block_width) ||
                !file.be32(tail + 8, &block_height)) {
                band->complete = false;
                continue;
            }
            float step = 0;
            std::memcpy(&step, &step_bits, 4);
            if (band->block_width == 0) {
                band->block_width = block_width;
                band->block_height = block_height;
            }
            PlaneSteps& steps = band->steps[std::size_t(p)];
            if (!steps.any) {
                steps.any = true;
                steps.lowest = steps.highest = step;
            } else {
                steps.lowest = std::min(steps.lowest, step);
                steps.highest = std::max(steps.highest, step);
            }
        }
    }
}

}  // namespace

bool read_file_layout(const std::string& path, FileLayout* layout, std::string* error) {
    const int descriptor = ::open(path.c_str(), O_RDONLY);
    if (descriptor < 0) {
        *error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    struct stat status {};
    ::fstat(descriptor, &status);
    const Reader file(descriptor, uint64_t(std::max<off_t>(status.st_size, 0)));
    layout->file_size = file.size();
    uint8_t magic[4];
    int32_t values[4];
    bool ok = file.bytes(0, magic, 4) && std::memcmp(magic, "kvel", 4) == 0;
    for (int i = 0; ok && i < 4; ++i) ok = file.be32(7 + 4 * uint64_t(i), &values[i]);
    if (!ok) {
        ::close(descriptor);
        *error = "not a Kavel file";
        return false;
    }
    layout->planes = values[0];
    layout->levels = values[1];
    layout->width = values[2];
    layout->height = values[3];
    if (layout->planes < 1 || layout->planes > 255 || layout->levels < 0 ||
        layout->levels > 30 || layout->width < 1 || layout->height < 1) {
        ::close(descriptor);
        *error = "bad header: " + std::to_string(layout->planes) + " planes, " +
                 std::to_string(layout->levels) + " levels, " + std::to_string(layout->width) +
                 " x " + std::to_string(layout->height) + " pixels";
        return false;
    }
    // The subbands in file order: the low-low band, then per level from the coarsest the
    // horizontally high, vertically high and high-high bands.
    const int32_t levels = layout->levels;
    int64_t budget = kMaxStreamsRead;
    for (int32_t number = 0; number <= 3 * levels; ++number) {
        SubbandLayout band;
        band.number = number;
        const int32_t level = number == 0 ? levels : levels - (number - 1) / 3;
        const int32_t kind = number == 0 ? -1 : (number - 1) % 3;
        band.level = level;
        int64_t w = layout->width, h = layout->height;
        for (int32_t d = 1; d < level; ++d) {
            w = halve_up(w);
            h = halve_up(h);
        }
        // The band split at this level is w x h.
        const int64_t low_w = halve_up(w), low_h = halve_up(h);
        switch (kind) {
            case -1: band.kind = "low-low"; band.width = levels == 0 ? w : low_w;
                     band.height = levels == 0 ? h : low_h; break;
            case 0: band.kind = "high-low"; band.width = w / 2; band.height = low_h; break;
            case 1: band.kind = "low-high"; band.width = low_w; band.height = h / 2; break;
            default: band.kind = "high-high"; band.width = w / 2; band.height = h / 2; break;
        }
        read_subband(file, layout->planes, &band, &budget);
        layout->subbands.push_back(std::move(band));
    }
    ::close(descriptor);
    return true;
}

}  // namespace kavel_tools
