// What one region decode carries from routine to routine: its work allowance, the tile
// directories its leaves share, where it is (for messages), and the first failure's class and
// reason. It travels with the decode's stream, which every reading routine takes, so that the
// routines keep their plain 0/1 results and no decode state lives in globals or threads.
#pragma once

#include <cstdint>
#include <string>

// Why a decode or an open failed. The values are those of the public kavel_status.
enum class DecodeStatus : int {
    ok = 0,
    io = 1,
    not_kavel = 2,
    bad_header = 3,
    damaged = 4,
    out_of_memory = 5,
    limit = 6,
    argument = 7,
    source_changed = 8,
};

struct RegionContext;     // the shared directories and work account (decode/decode_driver.cpp)
struct DecoderOverride;  // other routines for comparisons (decode/decoder_override.h)

class DecodeContext {
  public:
    // Work a decode may spend per byte of the file (see decode/decode_driver.h).
    static constexpr double kDefaultWorkFactor = 16.0;
    double work_factor = kDefaultWorkFactor;

    // Set by the decode driver while a region decode is open.
    RegionContext* region = nullptr;

    // Routines that stand in for the fast ones (null: the library's own).
    const DecoderOverride* decoder = nullptr;

    // Where the decode is, for messages: the subband and plane being decoded (-1: none).
    int32_t subband = -1;
    int32_t plane = -1;

    // Records a failure unless one is recorded already: the first names the reason.
    void fail(DecodeStatus status, const std::string& message) noexcept {
        if (status_ != DecodeStatus::ok) return;
        status_ = status;
        try {
            message_ = message;
        } catch (...) {
            message_.clear();
        }
    }
    DecodeStatus status() const { return status_; }
    const std::string& message() const { return message_; }
    // "subband 5, plane 1: " (or nothing outside a subband), to start a message with.
    std::string place() const {
        std::string text;
        if (subband >= 0) text += "subband " + std::to_string(subband);
        if (plane >= 0) text += (text.empty() ? "plane " : ", plane ") + std::to_string(plane);
        return text.empty() ? text : text + ": ";
    }

  private:
    DecodeStatus status_ = DecodeStatus::ok;
    std::string message_;
};
