#include "host/property_list.h"

#include <string_view>

namespace {

class Builder {
  public:
    constexpr void Byte(uint8_t value) { bytes_[size_++] = value; }
    constexpr void Word(uint16_t value) {
        Byte(static_cast<uint8_t>(value));
        Byte(static_cast<uint8_t>(value >> 8));
    }
    constexpr void Long(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) Byte(static_cast<uint8_t>(value >> shift));
    }
    // A four-character code as a little-endian integer: '8BIM' is stored "MIB8".
    constexpr void Code(std::string_view code) {
        for (int i = 3; i >= 0; --i) Byte(static_cast<uint8_t>(code[size_t(i)]));
    }
    // Characters in reading order.
    constexpr void Text(std::string_view text) {
        for (char c : text) Byte(static_cast<uint8_t>(c));
    }
    constexpr void Zeros(size_t count) {
        for (size_t i = 0; i < count; ++i) Byte(0);
    }
    // One property's head; the value follows (every value here is a multiple of 4 long,
    // so none needs padding).
    constexpr void Property(std::string_view key, uint32_t length) {
        Code("8BIM");
        Code(key);
        Long(0);
        Long(length);
    }
    constexpr size_t Size() const { return size_; }
    constexpr const std::array<uint8_t, kPropertyListSize>& Bytes() const { return bytes_; }

  private:
    std::array<uint8_t, kPropertyListSize> bytes_{};
    size_t size_ = 0;
};

constexpr std::array<uint8_t, kPropertyListSize> BuildPropertyList() {
    Builder b;
    b.Word(1);   // leading word
    b.Long(0);   // version
    b.Long(15);  // properties

    b.Property("kind", 4);
    b.Code("8BIF");  // a file-format module
    b.Property("name", 8);
    b.Byte(5);
    b.Text("Kavel");
    b.Zeros(2);
    b.Property("vers", 4);
    b.Long(0x00010000);  // interface version 1.0
    b.Property("wx86", 12);
    b.Text("ENTRYPOINT");
    b.Zeros(2);
    b.Property("hstm", 20);  // scripting terminology, declared without a resource
    b.Long(0);
    b.Code("simP");
    b.Code("null");
    b.Word(16000);
    b.Zeros(6);
    b.Property("mode", 4);  // every image mode from bitmap to Lab
    b.Byte(0xFF);
    b.Byte(0xC0);
    b.Zeros(2);
    b.Property("enbl", 8);
    b.Text("true");
    b.Zeros(4);
    b.Property("fmTC", 8);
    b.Code("8B1F");
    b.Code("8BIM");
    b.Property("RdTy", 8);
    b.Code("8B1F");
    b.Code("    ");
    b.Property("RdEx", 4);
    b.Text("KVL ");
    b.Property("WrEx", 4);
    b.Text("KVL ");
    b.Property("fftT", 8);
    b.Code("8B1F");
    b.Code("    ");
    b.Property("fmtf", 4);  // can read; no other format flag
    b.Byte(0x20);
    b.Zeros(3);
    b.Property("mxsz", 4);  // 32767 rows, 32767 columns
    b.Word(32767);
    b.Word(32767);
    b.Property("mxch", 24);  // channels per mode: 1 for bitmap, 24 for the others
    b.Word(1);
    for (int mode = 1; mode < 12; ++mode) b.Word(24);
    if (b.Size() != kPropertyListSize) throw "property list size";
    return b.Bytes();
}

}  // namespace

// Kept in the module file even though nothing in the module refers to it.
__attribute__((section(".pipl"), used, aligned(4))) const std::array<uint8_t, kPropertyListSize>
    kPropertyList = BuildPropertyList();

std::span<const uint8_t, kPropertyListSize> PropertyListBytes() { return kPropertyList; }
