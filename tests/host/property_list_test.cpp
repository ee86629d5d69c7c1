// The property list byte for byte, as stored in the module and as the host reads it.
#include "host/property_list.h"

#include <gtest/gtest.h>

#include <cstring>

#include "host/plugin_host/elf_section.h"
#include "host/plugin_host/property_list_reader.h"
#include "tests/support/test_files.h"

namespace {

std::vector<uint8_t> Expected() {
    std::vector<uint8_t> bytes;
    auto text = [&](const char* s, size_t n) { bytes.insert(bytes.end(), s, s + n); };
    auto le32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
    };
    auto property = [&](const char* reversedKey, uint32_t length, const char* value) {
        text("MIB8", 4);
        text(reversedKey, 4);
        le32(0);
        le32(length);
        text(value, length);
    };
    bytes = {1, 0};
    le32(0);
    le32(15);
    property("dnik", 4, "FIB8");
    property("eman", 8, "\x05Kavel\0\0");
    property("srev", 4, "\0\0\x01\0");
    property("68xw", 12, "ENTRYPOINT\0\0");
    property("mtsh", 20, "\0\0\0\0Pmisllun\x80\x3E\0\0\0\0\0\0");
    property("edom", 4, "\xFF\xC0\0\0");
    property("lbne", 8, "true\0\0\0\0");
    property("CTmf", 8, "F1B8MIB8");
    property("yTdR", 8, "F1B8    ");
    property("xEdR", 4, "KVL ");
    property("xErW", 4, "KVL ");
    property("Ttff", 8, "F1B8    ");
    property("ftmf", 4, "\x20\0\0\0");
    property("zsxm", 4, "\xFF\x7F\xFF\x7F");
    property("hcxm", 24,
             "\x01\0\x18\0\x18\0\x18\0\x18\0\x18\0\x18\0\x18\0\x18\0\x18\0\x18\0\x18\0");
    return bytes;
}

TEST(PropertyListTest, BytesMatchTheRegistrationTable) {
    const auto stored = PropertyListBytes();
    const std::vector<uint8_t> expected = Expected();
    ASSERT_EQ(expected.size(), 374u);
    ASSERT_EQ(stored.size(), 374u);
    EXPECT_EQ(0, std::memcmp(stored.data(), expected.data(), 374));
}

TEST(PropertyListTest, HostReadsItFromTheModuleFileWithoutLoadingIt) {
    std::vector<uint8_t> section;
    std::string error;
    ASSERT_TRUE(ReadElfSection(KAVEL_MODULE_PATH, ".pipl", &section, &error)) << error;
    ASSERT_GE(section.size(), 374u);
    EXPECT_EQ(0, std::memcmp(section.data(), PropertyListBytes().data(), 374));

    ModuleProperties properties;
    ASSERT_TRUE(ParsePropertyList(section, &properties, &error)) << error;
    EXPECT_EQ(properties.kind, "8BIF");
    EXPECT_EQ(properties.name, "Kavel");
    EXPECT_EQ(properties.version, 0x00010000u);
    EXPECT_EQ(properties.entryPoint, "ENTRYPOINT");
    EXPECT_EQ(properties.readType, "8B1F");
    EXPECT_EQ(properties.readCreator, "    ");
    EXPECT_TRUE(properties.ReadsExtension("kvl"));
    EXPECT_TRUE(properties.ReadsExtension("KVL"));
    EXPECT_FALSE(properties.ReadsExtension("png"));
    EXPECT_TRUE(properties.CanRead());
    EXPECT_EQ(DescribeFormatFlags(properties.formatFlags), "can read");
    EXPECT_EQ(properties.maxRows, 32767);
    EXPECT_EQ(properties.maxColumns, 32767);
    ASSERT_EQ(properties.maxChannels.size(), 12u);
    EXPECT_EQ(properties.maxChannels[0], 1);
    EXPECT_EQ(properties.maxChannels[11], 24);
}

TEST(PropertyListTest, MalformedListsAndFilesAreRefused) {
    std::vector<uint8_t> bytes(PropertyListBytes().begin(), PropertyListBytes().end());
    ModuleProperties properties;
    std::string error;

    std::vector<uint8_t> truncated(bytes.begin(), bytes.begin() + 200);
    EXPECT_FALSE(ParsePropertyList(truncated, &properties, &error));
    EXPECT_NE(error.find("past the end"), std::string::npos) << error;

    std::vector<uint8_t> hugeLength = bytes;
    hugeLength[22] = 0xFF;  // the length of 'kind'
    hugeLength[25] = 0x7F;
    EXPECT_FALSE(ParsePropertyList(hugeLength, &properties, &error));

    std::vector<uint8_t> manyProperties = bytes;
    manyProperties[9] = 0x7F;
    EXPECT_FALSE(ParsePropertyList(manyProperties, &properties, &error));

    std::vector<uint8_t> badVersion = bytes;
    badVersion[2] = 1;
    EXPECT_FALSE(ParsePropertyList(badVersion, &properties, &error));

    kavel_test::TempDir dir;
    kavel_test::write_bytes(dir.path("text.8bi"), {'h', 'e', 'l', 'l', 'o'});
    std::vector<uint8_t> section;
    EXPECT_FALSE(ReadElfSection(dir.path("text.8bi"), ".pipl", &section, &error));
    EXPECT_NE(error.find("not an ELF"), std::string::npos) << error;

    // An ELF file whose section table points past its end.
    std::vector<uint8_t> elf = kavel_test::read_bytes(KAVEL_MODULE_PATH);
    ASSERT_GT(elf.size(), 64u);
    elf.resize(1024);
    kavel_test::write_bytes(dir.path("cut.8bi"), elf);
    EXPECT_FALSE(ReadElfSection(dir.path("cut.8bi"), ".pipl", &section, &error));
}

}  // namespace
