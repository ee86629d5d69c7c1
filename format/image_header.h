// The fixed header of a Kavel file and the small routines that read it.
//
// Every multi-byte integer of the container is a signed 32-bit big-endian value.
//
//   offset  size  field
//   0       4     magic "kvel" (0x6B 0x76 0x65 0x6C)
//   4       3     not interpreted
//   7       4     plane count P (1 grey, 3 colour)
//   11      4     level count L (3L+1 subbands, scales 0..L)
//   15      4     width W at full resolution
//   19      4     height H at full resolution
//   23      4(3L+1) subband pointer table: file offset of each subband's tile directory
//
// All routines return 0 for success and 1 for failure; results go to out-parameters.
#pragma once

#include <cstdint>

#include "format/byte_stream.h"

constexpr long kHeaderSize = 23;

struct ImageHeader {
    int32_t planes;
    int32_t levels;
    int32_t width;
    int32_t height;
};

// Reads one big-endian 32-bit value into *destination (host byte order).
int read_be32(ByteStream* stream, int32_t* destination);
// Reads a big-endian IEEE single (the quantisation step of a tile stream).
int read_be32_float(ByteStream* stream, float* destination);
// Checks the four magic bytes read from the current position.
int check_magic(ByteStream* stream);
// Seeks to 0 and reads the 23-byte header; leaves the stream at offset 23. No range checks.
int read_image_header(ByteStream* stream, ImageHeader* header);
// Opens path for reading, reads the header, closes the file on every path. Prints
// "Error opening %s for read.\n" to stderr when the file cannot be opened.
int open_image_header(const char* path, int32_t* planes, int32_t* levels, int32_t* width,
                      int32_t* height);
// The same, keeping the file open: the source to read the image from for as long as it is
// used, or null (with the message above when the file cannot be opened, or when the header
// cannot be read). No range checks.
std::unique_ptr<ByteSource> open_image_source(const char* path, ImageHeader* header);

// Limits beyond which a header makes no image this reader will decode.
constexpr int32_t kMaxLevels = 31;
constexpr int32_t kMaxPlanes = 255;

// ceil(size / 2^scale): the width or height of the image at a scale (the size for scale <= 0).
int32_t size_at_scale(int32_t size, int32_t scale);

// True when the header describes an image: 1..kMaxPlanes planes, 0..31 levels, width and
// height at least 1.
bool header_is_usable(const ImageHeader& header);
