// Entropy decoding of one coefficient block.
//
// Block data: 0xFF 0xA3, then a bit stream read most significant bit first, coded with the
// tile stream's canonical prefix code. After a 0xFF data byte the next byte is stuffing: on
// the code path it is always skipped; on the magnitude path a 0 is skipped and anything else
// (a marker) makes the stream step back two bytes so that the 0xFF is read again.
//
// Symbols: 0 nothing; 1..100 run of that many zeros; 101/102 +/- 8-bit magnitude;
// 103/104 +/- 16-bit magnitude; 105/106 run of an 8-/16-bit length; 107..255 value V - 180.
#pragma once

#include <cstdint>
#include "format/byte_stream.h"

#include "decode/decode_driver.h"
#include "format/region_request.h"

// Decodes the block at the stream's position into output (IW x IH values of the intersection
// I of the block rectangle B, zero-filled by the caller). 0 on success, 1 on failure.
int decode_block(ByteStream* stream, int16_t* output, const CodeTable& table, const RegionRect& block,
                 const RegionRect& wanted);
