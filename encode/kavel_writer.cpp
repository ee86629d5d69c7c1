#include "encode/kavel_writer.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <queue>
#include <set>
#include <utility>

#include "common/atomic_output.h"

namespace kavel {

namespace {

void set_error(std::string* error, const std::string& message) {
    if (error) *error = message;
}

// Extra bits that follow a symbol's code.
int extra_bits(uint8_t symbol) {
    switch (symbol) {
        case 101:
        case 102:
        case 105:
            return 8;
        case 103:
        case 104:
        case 106:
            return 16;
        default:
            return 0;
    }
}

constexpr uint8_t kZeroValueSymbol = 180;  // the direct value 0: a run of one zero

// --- Bit writer with byte stuffing ----------------------------------------------------------

class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t>* out) : out_(out) {}

    void put(uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            current_ = static_cast<uint8_t>((current_ << 1) | ((bits >> i) & 1u));
            if (++filled_ == 8) emit();
        }
    }

    // Pads the last byte with 1-bits.
    void finish() {
        while (filled_ != 0) put(1, 1);
    }

  private:
    void emit() {
        out_->push_back(current_);
        if (current_ == 0xFF) out_->push_back(0x00);
        current_ = 0;
        filled_ = 0;
    }

    std::vector<uint8_t>* out_;
    uint8_t current_ = 0;
    int filled_ = 0;
};

// --- Output sinks ---------------------------------------------------------------------------

class Sink {
  public:
    virtual ~Sink() = default;
    virtual bool write(const uint8_t* data, std::size_t size) = 0;
};

class VectorSink final : public Sink {
  public:
    explicit VectorSink(std::vector<uint8_t>* out) : out_(out) {}
    bool write(const uint8_t* data, std::size_t size) override {
        out_->insert(out_->end(), data, data + size);
        return true;
    }

  private:
    std::vector<uint8_t>* out_;
};

class FileSink final : public Sink {
  public:
    explicit FileSink(FILE* file) : file_(file) {}
    bool write(const uint8_t* data, std::size_t size) override {
        return size == 0 || std::fwrite(data, 1, size, file_) == size;
    }

  private:
    FILE* file_;
};

void put_be32(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value >> 24));
    out->push_back(static_cast<uint8_t>(value >> 16));
    out->push_back(static_cast<uint8_t>(value >> 8));
    out->push_back(static_cast<uint8_t>(value));
}

void put_be32(std::vector<uint8_t>* out, int32_t value) {
    put_be32(out, static_cast<uint32_t>(value));
}

// --- Layout ---------------------------------------------------------------------------------

enum class ItemKind { empty_block, directory, stream_header, stream_blocks, block };

struct Item {
    ItemKind kind;
    std::size_t subband = 0, tile = 0, plane = 0;
    uint64_t size = 0;
    uint64_t offset = 0;
    std::size_t block = 0;  // ItemKind::block: the block's number in its stream
};

constexpr uint8_t kEmptyBlockBytes[4] = {0xFF, 0xA3, 0xFF, 0xFF};

uint64_t stream_header_size(const EncodedStream& stream) {
    return 2 + 16 + stream.table.symbols.size() + 12 +
           4 * static_cast<uint64_t>(stream.block_count());
}

bool check_file(const EncodedFile& file, std::string* error) {
    if (file.planes < 1 || file.planes > 255) {
        set_error(error, "plane count " + std::to_string(file.planes) + " is not 1..255");
        return false;
    }
    if (file.levels < 0 || file.levels > kMaxLevelCount) {
        set_error(error, "level count " + std::to_string(file.levels) + " is not 0.." +
                             std::to_string(kMaxLevelCount));
        return false;
    }
    if (file.width < 1 || file.height < 1) {
        set_error(error, "image size " + std::to_string(file.width) + " x " +
                             std::to_string(file.height) + " is empty");
        return false;
    }
    if (file.subbands.size() != static_cast<std::size_t>(subband_count(file.levels))) {
        set_error(error, "expected " + std::to_string(subband_count(file.levels)) +
                             " tile directories, got " + std::to_string(file.subbands.size()));
        return false;
    }
    for (std::size_t k = 0; k < file.subbands.size(); ++k) {
        const auto& tiles = file.subbands[k].tiles;
        if (tiles.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
            set_error(error, "too many tiles");
            return false;
        }
        for (std::size_t t = 0; t < tiles.size(); ++t) {
            const EncodedTile& tile = tiles[t];
            const std::string where =
                "subband " + std::to_string(k) + " tile " + std::to_string(t) + ": ";
            const int64_t tw = int64_t(tile.x1) - tile.x0 + 1;
            const int64_t th = int64_t(tile.y1) - tile.y0 + 1;
            if (tw < 1 || th < 1 || tw > 65535 || th > 65535) {
                set_error(error, where + "tile size " + std::to_string(tw) + " x " +
                                     std::to_string(th) + " is not 1..65535");
                return false;
            }
            if (tile.planes.size() != static_cast<std::size_t>(file.planes)) {
                set_error(error, where + "needs one stream entry per plane");
                return false;
            }
            for (const auto& stream : tile.planes) {
                if (!stream) continue;
                if (stream->block_width < 1 || stream->block_height < 1) {
                    set_error(error, where + "block size must be positive");
                    return false;
                }
                const int64_t blocks =
                    block_count(static_cast<int32_t>(tw), static_cast<int32_t>(th),
                                stream->block_width, stream->block_height);
                if (stream->block_start.size() != static_cast<std::size_t>(blocks) + 1) {
                    set_error(error, where + "stream has the wrong number of blocks");
                    return false;
                }
                const std::size_t n = stream->table.symbols.size();
                std::size_t counted = 0;
                for (uint8_t c : stream->table.counts) counted += c;
                if (n == 0 || n > 256 || counted != n) {
                    set_error(error, where + "code table has " + std::to_string(counted) +
                                         " counted and " + std::to_string(n) + " listed symbols");
                    return false;
                }
            }
        }
    }
    return true;
}

// The end of block b's data in its stream (the start of the next block that has data).
uint64_t block_end(const EncodedStream& stream, std::size_t b) {
    for (std::size_t next = b + 1; next < stream.block_start.size(); ++next)
        if (stream.block_start[next] != EncodedStream::kEmptyBlock)
            return stream.block_start[next];
    return stream.data.size();
}

// Interleaves the bits of x and y (x in the even bits): the Z order of a square.
uint64_t z_order(uint32_t x, uint32_t y) {
    uint64_t z = 0;
    for (int i = 0; i < 32; ++i)
        z |= (uint64_t((x >> i) & 1u) << (2 * i)) | (uint64_t((y >> i) & 1u) << (2 * i + 1));
    return z;
}

// Squares of at most 2^kPlaceGroupSide pixels are laid out place by place (below).
constexpr int kPlaceGroupSide = 9;

// Every block with data, by the square of the picture it covers: the square of 2^k pixels, k
// the least with 2^k at least the block's larger side in pixels, that holds the block's corner.
// Squares larger than 2^kPlaceGroupSide pixels come first (the coarser levels, which an
// overview reads whole, form the start), larger squares first and equal ones in Z order. The
// smaller squares follow as a walk of the picture's quadtree that visits a square before the
// squares within it: the blocks of every level over one part of the picture lie together, so a
// window reads them in a few runs. Within a square: subband, block and plane, so that the blocks
// of every subband and plane over one square lie together.
std::vector<Item> blocks_by_place(const EncodedFile& file) {
    struct Keyed {
        uint64_t place;  // Z order of the square (large squares) or of its corner pixel
        int side;
        bool small;
        Item item;
    };
    std::vector<Keyed> keyed;
    for (std::size_t k = 0; k < file.subbands.size(); ++k) {
        const int level = subband_position(int32_t(k), file.levels).level;
        for (std::size_t t = 0; t < file.subbands[k].tiles.size(); ++t) {
            const EncodedTile& tile = file.subbands[k].tiles[t];
            for (std::size_t p = 0; p < tile.planes.size(); ++p) {
                if (!tile.planes[p]) continue;
                const EncodedStream& stream = *tile.planes[p];
                const int64_t across =
                    (int64_t(tile.x1) - tile.x0 + stream.block_width) / stream.block_width;
                for (std::size_t b = 0; b + 1 < stream.block_start.size(); ++b) {
                    if (stream.block_start[b] == EncodedStream::kEmptyBlock) continue;
                    const int64_t column =
                        int64_t(tile.x0) + int64_t(b % uint64_t(across)) * stream.block_width;
                    const int64_t row =
                        int64_t(tile.y0) + int64_t(b / uint64_t(across)) * stream.block_height;
                    const int64_t extent =
                        int64_t(std::max(stream.block_width, stream.block_height)) << level;
                    int side = 0;
                    while (side < 31 && (int64_t(1) << side) < extent) ++side;
                    const auto square = [&](int64_t v) {
                        return uint32_t(std::clamp<int64_t>((v << level) >> side, 0, 0xFFFFFFFF));
                    };
                    const bool small = side <= kPlaceGroupSide;
                    const auto corner = [&](int64_t v) {
                        return uint32_t(std::min<int64_t>(int64_t(square(v)) << side, 0xFFFFFFFF));
                    };
                    const uint64_t place = small ? z_order(corner(column), corner(row))
                                                 : z_order(square(column), square(row));
                    keyed.push_back({place, side, small,
                                     {ItemKind::block, k, t, p,
                                      block_end(stream, b) - stream.block_start[b], 0, b}});
                }
            }
        }
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.small != b.small) return b.small;
        if (a.small) {
            // A square's corner is the corner of the first square within it: the larger first.
            if (a.place != b.place) return a.place < b.place;
            if (a.side != b.side) return a.side > b.side;
        } else {
            if (a.side != b.side) return a.side > b.side;
            if (a.place != b.place) return a.place < b.place;
        }
        if (a.item.subband != b.item.subband) return a.item.subband < b.item.subband;
        if (a.item.tile != b.item.tile) return a.item.tile < b.item.tile;
        return a.item.block < b.item.block;  // then plane: the order they were made in
    });
    std::vector<Item> items;
    items.reserve(keyed.size());
    for (const Keyed& k : keyed) items.push_back(k.item);
    return items;
}

// The stream headers in the order of the parts of the picture their tiles cover, as the blocks
// (larger squares first, then Z order, subband, tile and plane): the headers one window needs
// lie in a few runs, and their block offset rows close together.
std::vector<Item> headers_by_place(const EncodedFile& file, const std::vector<Item>& natural) {
    struct Keyed {
        uint64_t place;
        int side;
        Item item;
    };
    std::vector<Keyed> keyed;
    for (const Item& item : natural) {
        if (item.kind != ItemKind::stream_header) continue;
        const int level = subband_position(int32_t(item.subband), file.levels).level;
        const EncodedTile& tile = file.subbands[item.subband].tiles[item.tile];
        const int64_t extent =
            std::max(int64_t(tile.x1) - tile.x0 + 1, int64_t(tile.y1) - tile.y0 + 1) << level;
        int side = 0;
        while (side < 31 && (int64_t(1) << side) < extent) ++side;
        const auto square = [&](int64_t v) {
            return uint32_t(std::clamp<int64_t>((v << level) >> side, 0, 0xFFFFFFFF));
        };
        keyed.push_back({z_order(square(tile.x0), square(tile.y0)), side, item});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.side != b.side) return a.side > b.side;
        return a.place < b.place;  // then the natural order: subband, tile, plane
    });
    std::vector<Item> items;
    items.reserve(keyed.size());
    for (const Keyed& k : keyed) items.push_back(k.item);
    return items;
}

std::vector<Item> plan_items(const EncodedFile& file) {
    std::vector<Item> natural;
    bool any_empty = false;
    for (std::size_t k = 0; k < file.subbands.size(); ++k) {
        const auto& dir = file.subbands[k];
        natural.push_back({ItemKind::directory, k, 0, 0,
                           8 + dir.tiles.size() * (4 * uint64_t(file.planes) + 16), 0});
        for (std::size_t t = 0; t < dir.tiles.size(); ++t) {
            for (std::size_t p = 0; p < dir.tiles[t].planes.size(); ++p) {
                const auto& stream = dir.tiles[t].planes[p];
                if (!stream) continue;
                natural.push_back(
                    {ItemKind::stream_header, k, t, p, stream_header_size(*stream), 0});
                natural.push_back({ItemKind::stream_blocks, k, t, p, stream->data.size(), 0});
                for (uint64_t start : stream->block_start)
                    if (start == EncodedStream::kEmptyBlock) any_empty = true;
            }
        }
    }
    std::vector<Item> items;
    if (any_empty) items.push_back({ItemKind::empty_block, 0, 0, 0, sizeof kEmptyBlockBytes, 0});
    switch (file.layout.order) {
        case LayoutOrder::natural:
            items.insert(items.end(), natural.begin(), natural.end());
            break;
        case LayoutOrder::directories_last:
            for (const Item& item : natural)
                if (item.kind != ItemKind::directory) items.push_back(item);
            for (const Item& item : natural)
                if (item.kind == ItemKind::directory) items.push_back(item);
            break;
        case LayoutOrder::reversed:
            items.insert(items.end(), natural.rbegin(), natural.rend());
            break;
        case LayoutOrder::index_first:
            for (ItemKind kind :
                 {ItemKind::directory, ItemKind::stream_header, ItemKind::stream_blocks})
                for (const Item& item : natural)
                    if (item.kind == kind) items.push_back(item);
            break;
        case LayoutOrder::by_place: {
            for (const Item& item : natural)
                if (item.kind == ItemKind::directory) items.push_back(item);
            std::vector<Item> headers = headers_by_place(file, natural);
            items.insert(items.end(), headers.begin(), headers.end());
            std::vector<Item> blocks = blocks_by_place(file);
            items.insert(items.end(), blocks.begin(), blocks.end());
            break;
        }
    }
    return items;
}

struct Offsets {
    uint64_t empty_block = 0;
    std::vector<uint64_t> directory;                         // by subband
    std::vector<std::vector<std::vector<uint64_t>>> header;  // [k][t][p]
    std::vector<std::vector<std::vector<uint64_t>>> blocks;  // [k][t][p]
    // Blocks placed one by one (LayoutOrder::by_place): [k][t][p][b], 0 where not placed.
    std::vector<std::vector<std::vector<std::vector<uint64_t>>>> block;
};

bool serialise(const EncodedFile& file, Sink* sink, std::string* error) {
    if (!check_file(file, error)) return false;
    std::vector<Item> items = plan_items(file);

    const uint64_t table_end = 23 + 4 * uint64_t(subband_count(file.levels));
    Offsets offsets;
    offsets.directory.assign(file.subbands.size(), 0);
    offsets.header.resize(file.subbands.size());
    offsets.blocks.resize(file.subbands.size());
    for (std::size_t k = 0; k < file.subbands.size(); ++k) {
        offsets.header[k].assign(file.subbands[k].tiles.size(),
                                 std::vector<uint64_t>(std::size_t(file.planes), 0));
        offsets.blocks[k] = offsets.header[k];
    }
    if (file.layout.order == LayoutOrder::by_place) {
        offsets.block.resize(file.subbands.size());
        for (std::size_t k = 0; k < file.subbands.size(); ++k)
            for (const EncodedTile& tile : file.subbands[k].tiles) {
                offsets.block[k].emplace_back();
                for (const auto& stream : tile.planes)
                    offsets.block[k].back().emplace_back(
                        stream ? stream->block_start.size() : 0, 0);
            }
    }
    uint64_t position = table_end;
    for (Item& item : items) {
        position += file.layout.gap;
        item.offset = position;
        position += item.size;
        switch (item.kind) {
            case ItemKind::empty_block:
                offsets.empty_block = item.offset;
                break;
            case ItemKind::directory:
                offsets.directory[item.subband] = item.offset;
                break;
            case ItemKind::stream_header:
                offsets.header[item.subband][item.tile][item.plane] = item.offset;
                break;
            case ItemKind::stream_blocks:
                offsets.blocks[item.subband][item.tile][item.plane] = item.offset;
                break;
            case ItemKind::block:
                offsets.block[item.subband][item.tile][item.plane][item.block] = item.offset;
                break;
        }
    }
    if (position > kMaxFileSize) {
        set_error(error, "the file would be " + std::to_string(position) +
                             " bytes, beyond the 2 GiB that 32-bit offsets address");
        return false;
    }

    std::vector<uint8_t> buffer;
    buffer = {'k', 'v', 'e', 'l', file.reserved[0], file.reserved[1], file.reserved[2]};
    put_be32(&buffer, file.planes);
    put_be32(&buffer, file.levels);
    put_be32(&buffer, file.width);
    put_be32(&buffer, file.height);
    for (uint64_t offset : offsets.directory) put_be32(&buffer, static_cast<uint32_t>(offset));
    if (!sink->write(buffer.data(), buffer.size())) {
        set_error(error, "write failed");
        return false;
    }

    const std::vector<uint8_t> filler(file.layout.gap, 0x5A);
    for (const Item& item : items) {
        if (!sink->write(filler.data(), filler.size())) {
            set_error(error, "write failed");
            return false;
        }
        buffer.clear();
        const uint8_t* data = nullptr;
        std::size_t size = 0;
        switch (item.kind) {
            case ItemKind::empty_block:
                data = kEmptyBlockBytes;
                size = sizeof kEmptyBlockBytes;
                break;
            case ItemKind::directory: {
                const EncodedDirectory& dir = file.subbands[item.subband];
                buffer = {0xFF, 0xAC, dir.dither_column, dir.dither_row};
                put_be32(&buffer, static_cast<uint32_t>(dir.tiles.size()));
                for (std::size_t t = 0; t < dir.tiles.size(); ++t) {
                    const EncodedTile& tile = dir.tiles[t];
                    for (std::size_t p = 0; p < tile.planes.size(); ++p)
                        put_be32(&buffer,
                                 static_cast<uint32_t>(
                                     tile.planes[p] ? offsets.header[item.subband][t][p] : 0));
                    put_be32(&buffer, tile.x0);
                    put_be32(&buffer, tile.y0);
                    put_be32(&buffer, tile.x1);
                    put_be32(&buffer, tile.y1);
                }
                data = buffer.data();
                size = buffer.size();
                break;
            }
            case ItemKind::stream_header: {
                const EncodedStream& stream =
                    *file.subbands[item.subband].tiles[item.tile].planes[item.plane];
                buffer = {0xFF, 0xAA};
                buffer.insert(buffer.end(), stream.table.counts.begin(), stream.table.counts.end());
                buffer.insert(buffer.end(), stream.table.symbols.begin(),
                              stream.table.symbols.end());
                put_be32(&buffer, std::bit_cast<uint32_t>(stream.step));
                put_be32(&buffer, stream.block_width);
                put_be32(&buffer, stream.block_height);
                const uint64_t base = offsets.blocks[item.subband][item.tile][item.plane];
                for (int32_t b = 0; b < stream.block_count(); ++b) {
                    const uint64_t start = stream.block_start[std::size_t(b)];
                    const uint64_t at =
                        start == EncodedStream::kEmptyBlock ? offsets.empty_block
                        : offsets.block.empty()
                            ? base + start
                            : offsets.block[item.subband][item.tile][item.plane][std::size_t(b)];
                    put_be32(&buffer, static_cast<uint32_t>(at));
                }
                data = buffer.data();
                size = buffer.size();
                break;
            }
            case ItemKind::stream_blocks: {
                const EncodedStream& stream =
                    *file.subbands[item.subband].tiles[item.tile].planes[item.plane];
                data = stream.data.data();
                size = stream.data.size();
                break;
            }
            case ItemKind::block: {
                const EncodedStream& stream =
                    *file.subbands[item.subband].tiles[item.tile].planes[item.plane];
                data = stream.data.data() + stream.block_start[item.block];
                size = std::size_t(item.size);
                break;
            }
        }
        if (!sink->write(data, size)) {
            set_error(error, "write failed");
            return false;
        }
    }
    return true;
}

bool encode_file(const FileInput& file, EncodedFile* out, std::string* error) {
    out->planes = file.planes;
    out->levels = file.levels;
    out->width = file.width;
    out->height = file.height;
    out->reserved = file.reserved;
    out->layout = file.layout;
    out->subbands.clear();
    out->subbands.resize(file.subbands.size());
    for (std::size_t k = 0; k < file.subbands.size(); ++k) {
        const DirectoryInput& in = file.subbands[k];
        EncodedDirectory& dir = out->subbands[k];
        dir.dither_column = in.dither_column;
        dir.dither_row = in.dither_row;
        for (std::size_t t = 0; t < in.tiles.size(); ++t) {
            const TileInput& tile = in.tiles[t];
            EncodedTile coded{tile.x0, tile.y0, tile.x1, tile.y1, {}};
            const int64_t tw = int64_t(tile.x1) - tile.x0 + 1;
            const int64_t th = int64_t(tile.y1) - tile.y0 + 1;
            for (const auto& plane : tile.planes) {
                if (!plane) {
                    coded.planes.emplace_back();
                    continue;
                }
                if (tw < 1 || th < 1 || tw > 65535 || th > 65535) {
                    set_error(error, "subband " + std::to_string(k) + " tile " + std::to_string(t) +
                                         ": tile size is not 1..65535");
                    return false;
                }
                EncodedStream stream;
                std::string message;
                if (!encode_stream(*plane, static_cast<int32_t>(tw), static_cast<int32_t>(th),
                                   &stream, &message)) {
                    set_error(error, "subband " + std::to_string(k) + " tile " + std::to_string(t) +
                                         ": " + message);
                    return false;
                }
                coded.planes.push_back(std::move(stream));
            }
            dir.tiles.push_back(std::move(coded));
        }
    }
    return true;
}

// Writes through a temporary file in the target's folder, renamed into place at the end (the
// temporary file is removed on any failure). A path of "-" is a file of that name here, not
// standard output.
bool write_atomically(const std::string& path, const std::function<bool(Sink*, std::string*)>& body,
                      std::string* error) {
    kavel_common::AtomicOutput output(path == "-" ? "./-" : path);
    std::string message;
    if (!output.open(&message)) {
        set_error(error, path + ": " + message);
        return false;
    }
    FileSink sink(output.stream());
    if (!body(&sink, &message)) {
        if (message == "write failed") message = "cannot write " + path + ": " + std::strerror(errno);
        set_error(error, message);
        return false;
    }
    if (!output.commit(&message)) {
        set_error(error, path + ": " + message);
        return false;
    }
    return true;
}

}  // namespace

// --- Symbols --------------------------------------------------------------------------------

SymbolSet SymbolSet::all() {
    SymbolSet set;
    set.available.fill(true);
    set.available[0] = false;
    return set;
}

SymbolSet SymbolSet::of(const CodeTable& table) {
    SymbolSet set;
    std::size_t n = 0;
    for (uint8_t c : table.counts) n += c;
    n = std::min(n, table.symbols.size());
    for (std::size_t i = 0; i < n; ++i) set.available[table.symbols[i]] = true;
    return set;
}

namespace {

bool emit_run(uint32_t run, const SymbolSet& set, std::vector<BlockSymbol>* symbols) {
    const auto& a = set.available;
    while (run > 0) {
        if (run >= 256 && a[106]) {
            const uint32_t n = std::min<uint32_t>(run, 65535);
            symbols->push_back({106, n});
            run -= n;
            continue;
        }
        if (run > 100 && a[105]) {
            const uint32_t n = std::min<uint32_t>(run, 255);
            symbols->push_back({105, n});
            run -= n;
            continue;
        }
        uint32_t k = std::min<uint32_t>(run, 100);
        while (k > 0 && !a[k]) --k;
        if (k > 0) {
            symbols->push_back({static_cast<uint8_t>(k), 0});
            run -= k;
        } else if (a[kZeroValueSymbol]) {
            symbols->push_back({kZeroValueSymbol, 0});
            run -= 1;
        } else if (a[105]) {
            const uint32_t n = std::min<uint32_t>(run, 255);
            symbols->push_back({105, n});
            run -= n;
        } else if (a[106]) {
            const uint32_t n = std::min<uint32_t>(run, 65535);
            symbols->push_back({106, n});
            run -= n;
        } else {
            return false;
        }
    }
    return true;
}

bool emit_value(int32_t value, const SymbolSet& set, std::vector<BlockSymbol>* symbols) {
    const auto& a = set.available;
    if (value >= -73 && value <= 75 && a[std::size_t(180 + value)]) {
        symbols->push_back({static_cast<uint8_t>(180 + value), 0});
        return true;
    }
    const uint32_t magnitude = static_cast<uint32_t>(value < 0 ? -int64_t(value) : value);
    const bool negative = value < 0;
    if (magnitude <= 255 && a[negative ? 102 : 101]) {
        symbols->push_back({static_cast<uint8_t>(negative ? 102 : 101), magnitude});
        return true;
    }
    if (magnitude <= 65535 && a[negative ? 104 : 103]) {
        symbols->push_back({static_cast<uint8_t>(negative ? 104 : 103), magnitude});
        return true;
    }
    return false;
}

}  // namespace

bool symbolise_block(const int32_t* values, std::size_t count, const SymbolSet& set,
                     std::vector<BlockSymbol>* symbols) {
    uint32_t run = 0;
    for (std::size_t i = 0; i < count; ++i) {
        int32_t v = values[i];
        // The reader keeps the low 16 bits; a value beyond one 16-bit magnitude is reduced to
        // the value it reads back as.
        if (v < -65535 || v > 65535) v = static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF));
        if (v == 0) {
            ++run;
            continue;
        }
        if (run > 0 && !emit_run(run, set, symbols)) return false;
        run = 0;
        if (!emit_value(v, set, symbols)) return false;
    }
    return run == 0 || emit_run(run, set, symbols);
}

// --- Codes ----------------------------------------------------------------------------------

std::array<uint8_t, 256> code_lengths(const std::array<uint64_t, 256>& frequencies,
                                      int max_length) {
    std::array<uint8_t, 256> lengths{};
    max_length = std::clamp(max_length, 1, 16);
    std::vector<int> used;
    for (int s = 0; s < 256; ++s)
        if (frequencies[std::size_t(s)] > 0) used.push_back(s);
    if (used.empty()) return lengths;
    if (used.size() == 1) {
        lengths[std::size_t(used[0])] = 1;
        return lengths;
    }
    // Huffman's construction; ties broken by node number so that the result is deterministic.
    struct Node {
        uint64_t weight;
        int parent;
    };
    std::vector<Node> nodes;
    using Entry = std::pair<uint64_t, int>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    for (int s : used) {
        queue.push({frequencies[std::size_t(s)], int(nodes.size())});
        nodes.push_back({frequencies[std::size_t(s)], -1});
    }
    while (queue.size() > 1) {
        const Entry a = queue.top();
        queue.pop();
        const Entry b = queue.top();
        queue.pop();
        const int parent = int(nodes.size());
        nodes.push_back({a.first + b.first, -1});
        nodes[std::size_t(a.second)].parent = parent;
        nodes[std::size_t(b.second)].parent = parent;
        queue.push({a.first + b.first, parent});
    }
    // Number of codes per depth.
    std::vector<int> bits(300, 0);
    int deepest = 0;
    for (std::size_t i = 0; i < used.size(); ++i) {
        int depth = 0;
        for (int n = int(i); nodes[std::size_t(n)].parent >= 0; n = nodes[std::size_t(n)].parent)
            ++depth;
        ++bits[std::size_t(depth)];
        deepest = std::max(deepest, depth);
    }
    // Limit the depth as JPEG does: move pairs of the deepest codes up, keeping the code full.
    for (int i = deepest; i > max_length; --i) {
        while (bits[std::size_t(i)] > 0) {
            int j = i - 2;
            while (bits[std::size_t(j)] == 0) --j;
            bits[std::size_t(i)] -= 2;
            bits[std::size_t(i - 1)] += 1;
            bits[std::size_t(j + 1)] += 2;
            bits[std::size_t(j)] -= 1;
        }
    }
    // The most frequent symbols get the shortest codes.
    std::vector<int> order = used;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return frequencies[std::size_t(a)] > frequencies[std::size_t(b)];
    });
    std::size_t next = 0;
    for (int length = 1; length <= max_length; ++length)
        for (int c = 0; c < bits[std::size_t(length)]; ++c)
            lengths[std::size_t(order[next++])] = static_cast<uint8_t>(length);
    // A tile stream counts the codes of one length in a byte, so 256 codes of 8 bits (all
    // symbols equally likely) cannot be stored: lengthen the least frequent one to 9 bits.
    if (bits[8] == 256) lengths[std::size_t(order.back())] = 9;
    return lengths;
}

CodeTable table_from_lengths(const std::array<uint8_t, 256>& lengths) {
    CodeTable table;
    for (int length = 1; length <= 16; ++length)
        for (int s = 0; s < 256; ++s)
            if (lengths[std::size_t(s)] == length) {
                ++table.counts[std::size_t(length - 1)];
                table.symbols.push_back(static_cast<uint8_t>(s));
            }
    return table;
}

bool canonical_codes(const CodeTable& table, std::array<CodeWord, 256>* codes, std::string* error) {
    codes->fill(CodeWord{});
    std::size_t n = 0;
    for (uint8_t c : table.counts) n += c;
    if (n == 0 || n > 256 || n != table.symbols.size()) {
        set_error(error, "code table counts " + std::to_string(n) + " codes for " +
                             std::to_string(table.symbols.size()) + " symbols");
        return false;
    }
    uint32_t code = 0;
    std::size_t k = 0;
    std::set<std::pair<int, uint32_t>> inner;  // proper prefixes: the reader's tree nodes
    for (int length = 1; length <= 16; ++length) {
        for (int c = 0; c < table.counts[std::size_t(length - 1)]; ++c, ++k) {
            if (code >= (1u << length)) {
                set_error(error, "code table lengths overflow the code space");
                return false;
            }
            const uint8_t symbol = table.symbols[k];
            if ((*codes)[symbol].length != 0) {
                set_error(error, "symbol " + std::to_string(symbol) + " is listed twice");
                return false;
            }
            (*codes)[symbol] = {static_cast<uint16_t>(code), static_cast<uint8_t>(length)};
            for (int l = 0; l < length; ++l) inner.insert({l, code >> (length - l)});
            ++code;
        }
        code <<= 1;
    }
    if (inner.size() > 256) {
        set_error(error, "code table needs more than 256 tree nodes");
        return false;
    }
    return true;
}

bool code_block(const std::vector<BlockSymbol>& symbols, const std::array<CodeWord, 256>& codes,
                std::vector<uint8_t>* out, std::string* error) {
    out->push_back(0xFF);
    out->push_back(0xA3);
    BitWriter writer(out);
    for (const BlockSymbol& s : symbols) {
        const CodeWord word = codes[s.symbol];
        if (word.length == 0) {
            set_error(error, "symbol " + std::to_string(s.symbol) + " has no code");
            return false;
        }
        writer.put(word.code, word.length);
        const int extra = extra_bits(s.symbol);
        if (extra > 0) {
            if (s.extra >= (1u << extra)) {
                set_error(error, "extra value " + std::to_string(s.extra) + " of symbol " +
                                     std::to_string(s.symbol) + " does not fit " +
                                     std::to_string(extra) + " bits");
                return false;
            }
            writer.put(s.extra, extra);
        }
    }
    writer.finish();
    return true;
}

int64_t block_count(int32_t tile_width, int32_t tile_height, int32_t block_width,
                    int32_t block_height) {
    if (tile_width < 1 || tile_height < 1 || block_width < 1 || block_height < 1) return 0;
    const int64_t across = (int64_t(tile_width) + block_width - 1) / block_width;
    const int64_t down = (int64_t(tile_height) + block_height - 1) / block_height;
    return across * down;
}

// --- Streams --------------------------------------------------------------------------------

bool encode_stream(const StreamInput& input, int32_t tile_width, int32_t tile_height,
                   EncodedStream* out, std::string* error) {
    if (tile_width < 1 || tile_height < 1 || tile_width > 65535 || tile_height > 65535) {
        set_error(error, "tile size " + std::to_string(tile_width) + " x " +
                             std::to_string(tile_height) + " is not 1..65535");
        return false;
    }
    if (input.block_width < 1 || input.block_height < 1) {
        set_error(error, "block size " + std::to_string(input.block_width) + " x " +
                             std::to_string(input.block_height) + " must be positive");
        return false;
    }
    if (input.coefficients.size() != std::size_t(tile_width) * std::size_t(tile_height)) {
        set_error(error, "expected " + std::to_string(int64_t(tile_width) * tile_height) +
                             " coefficients, got " + std::to_string(input.coefficients.size()));
        return false;
    }
    SymbolSet set = input.code_table ? SymbolSet::of(*input.code_table) : SymbolSet::all();
    const int32_t across =
        static_cast<int32_t>((int64_t(tile_width) + input.block_width - 1) / input.block_width);
    const int32_t down =
        static_cast<int32_t>((int64_t(tile_height) + input.block_height - 1) / input.block_height);
    const std::size_t blocks = std::size_t(across) * std::size_t(down);

    // Symbols of every block (empty blocks marked), with their frequencies.
    std::vector<BlockSymbol> symbols;
    std::vector<std::size_t> first(blocks + 1, 0);
    std::vector<bool> empty(blocks, false);
    std::array<uint64_t, 256> frequencies{};
    std::vector<int32_t> values;
    const auto symbolise_all = [&]() {
        symbols.clear();
        frequencies.fill(0);
        for (int32_t by = 0; by < down; ++by) {
            for (int32_t bx = 0; bx < across; ++bx) {
                const std::size_t b = std::size_t(by) * std::size_t(across) + std::size_t(bx);
                first[b] = symbols.size();
                if (b < input.block_symbols.size() && input.block_symbols[b]) {
                    symbols.insert(symbols.end(), input.block_symbols[b]->begin(),
                                   input.block_symbols[b]->end());
                    continue;
                }
                const int32_t x0 = bx * input.block_width, y0 = by * input.block_height;
                const int32_t w = std::min(input.block_width, tile_width - x0);
                const int32_t h = std::min(input.block_height, tile_height - y0);
                values.clear();
                bool all_zero = true;
                for (int32_t y = y0; y < y0 + h; ++y) {
                    const int32_t* row = input.coefficients.data() + std::size_t(y) * tile_width;
                    for (int32_t x = x0; x < x0 + w; ++x) {
                        values.push_back(row[x]);
                        if ((row[x] & 0xFFFF) != 0) all_zero = false;
                    }
                }
                if (all_zero && input.share_empty_blocks) {
                    empty[b] = true;
                    continue;
                }
                if (!symbolise_block(values.data(), values.size(), set, &symbols)) {
                    set_error(error, "block " + std::to_string(b) +
                                         " has a value or run the code table cannot express");
                    return false;
                }
            }
        }
        first[blocks] = symbols.size();
        for (const BlockSymbol& sym : symbols) ++frequencies[sym.symbol];
        return true;
    };
    if (!symbolise_all()) return false;
    // Every symbol in the table costs a byte there: rare direct values and runs are cheaper
    // spelt out with the escape symbols (8-bit magnitudes, shorter runs). A few rounds of
    // pruning settle it.
    for (int round = 0; !input.code_table && input.prune_rare_symbols && round < 2; ++round) {
        const std::array<uint8_t, 256> lengths = code_lengths(frequencies);
        const auto length_of = [&](int symbol) {
            return lengths[std::size_t(symbol)] ? double(lengths[std::size_t(symbol)]) : 8.0 + 8.0;
        };
        bool changed = false;
        for (int symbol = 2; symbol < 256; ++symbol) {
            const double f = double(frequencies[std::size_t(symbol)]);
            if (f == 0 || (symbol > 100 && symbol < 107) || symbol == kZeroValueSymbol) continue;
            const double keep = f * length_of(symbol) + 8.0;
            double spelt;
            if (symbol >= 107) {
                spelt = f * (length_of(symbol > kZeroValueSymbol ? 101 : 102) + 8.0);
            } else {
                int shorter = symbol - 1;
                while (shorter > 1 && !set.available[std::size_t(shorter)]) --shorter;
                spelt = f * (length_of(shorter) + length_of(symbol - shorter));
            }
            if (spelt < keep) {
                set.available[std::size_t(symbol)] = false;
                changed = true;
            }
        }
        if (!changed) break;
        if (!symbolise_all()) return false;
    }

    out->step = input.step;
    out->block_width = input.block_width;
    out->block_height = input.block_height;
    if (input.code_table) {
        out->table = *input.code_table;
    } else if (symbols.empty()) {
        // Every block is empty; the reader still wants a code table with one code.
        out->table = CodeTable{};
        out->table.counts[0] = 1;
        out->table.symbols = {kZeroValueSymbol};
    } else {
        out->table = table_from_lengths(code_lengths(frequencies));
    }
    std::array<CodeWord, 256> codes;
    if (!canonical_codes(out->table, &codes, error)) return false;

    out->data.clear();
    out->block_start.assign(blocks + 1, 0);
    std::vector<BlockSymbol> block;
    for (std::size_t b = 0; b < blocks; ++b) {
        if (empty[b]) {
            out->block_start[b] = EncodedStream::kEmptyBlock;
            continue;
        }
        out->block_start[b] = out->data.size();
        block.assign(symbols.begin() + std::ptrdiff_t(first[b]),
                     symbols.begin() + std::ptrdiff_t(first[b + 1]));
        if (!code_block(block, codes, &out->data, error)) return false;
    }
    out->block_start[blocks] = out->data.size();
    return true;
}

// --- Files ----------------------------------------------------------------------------------

uint64_t encoded_file_size(const EncodedFile& file) {
    uint64_t size = 23 + 4 * uint64_t(subband_count(file.levels));
    for (const Item& item : plan_items(file)) size += file.layout.gap + item.size;
    return size;
}

bool write_kavel(const EncodedFile& file, std::vector<uint8_t>* out, std::string* error) {
    out->clear();
    VectorSink sink(out);
    return serialise(file, &sink, error);
}

bool write_kavel(const FileInput& file, std::vector<uint8_t>* out, std::string* error) {
    EncodedFile encoded;
    if (!encode_file(file, &encoded, error)) return false;
    return write_kavel(encoded, out, error);
}

bool write_kavel_file(const EncodedFile& file, const std::string& path, std::string* error) {
    // Check before creating anything, so that a file the format cannot hold leaves no trace.
    if (!check_file(file, error)) return false;
    return write_atomically(
        path, [&](Sink* sink, std::string* message) { return serialise(file, sink, message); },
        error);
}

bool write_kavel_file(const FileInput& file, const std::string& path, std::string* error) {
    EncodedFile encoded;
    if (!encode_file(file, &encoded, error)) return false;
    return write_kavel_file(encoded, path, error);
}

bool write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes,
                           std::string* error) {
    return write_atomically(
        path,
        [&](Sink* sink, std::string* message) {
            if (sink->write(bytes.data(), bytes.size())) return true;
            *message = "write failed";
            return false;
        },
        error);
}

}  // namespace kavel
