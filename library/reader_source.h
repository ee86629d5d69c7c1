// A byte source over a caller's kavel_reader: reads go to its read_at, and its close is called
// when the source is destroyed.
#pragma once

#include <memory>

#include "format/byte_source.h"
#include "kavel/kavel.h"

// Null when the reader has no read_at (or no memory is left); the reader's close is then not
// called.
std::unique_ptr<ByteSource> make_reader_source(const kavel_reader& reader);
