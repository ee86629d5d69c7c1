// The Windows resources written from a module's resource table: the property list with the
// code property of the module's architecture, cursor files, and the resource script.
#include "platform/win32/resource_script.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

// A property list of two properties: 'kind' then 'wx86' with "ENTRYPOINT".
std::vector<uint8_t> TwoProperties() {
    std::vector<uint8_t> list = {1, 0, 0, 0, 0, 0, 2, 0, 0, 0};
    const auto property = [&](const char* key, std::vector<uint8_t> value, uint8_t length) {
        for (char c : std::string("MIB8")) list.push_back(uint8_t(c));
        for (int i = 3; i >= 0; --i) list.push_back(uint8_t(key[i]));
        list.insert(list.end(), {0, 0, 0, 0, length, 0, 0, 0});
        list.insert(list.end(), value.begin(), value.end());
    };
    property("kind", {'F', 'I', 'B', '8'}, 4);
    property("wx86", {'E', 'N', 'T', 'R', 'Y', 'P', 'O', 'I', 'N', 'T', 0, 0}, 12);
    return list;
}

TEST(ResourceScriptTest, PropertyListGetsTheCodeKeyOfTheArchitectureAndNothingElseChanges) {
    const std::vector<uint8_t> list = TwoProperties();
    const std::vector<uint8_t> x64 = platform::PropertyListForCode(list, "8664");
    ASSERT_EQ(x64.size(), list.size());
    size_t changed = 0;
    for (size_t i = 0; i < list.size(); ++i) changed += list[i] != x64[i];
    EXPECT_EQ(changed, 4u);  // the key alone: "68xw" becomes "4668"
    const size_t key = 10 + 20 + 4;  // after the head and the 'kind' property, past the vendor
    EXPECT_EQ(std::string(x64.begin() + key, x64.begin() + key + 4), "4668");
    EXPECT_EQ(platform::PropertyListForCode(list, "wx86"), list);

    // Malformed lists and lists without the code property give nothing.
    std::vector<uint8_t> truncated = list;
    truncated.resize(list.size() - 4);
    EXPECT_TRUE(platform::PropertyListForCode(truncated, "8664").empty());
    std::vector<uint8_t> lying = list;
    lying[10 + 12] = 0xFF;  // the first property claims to run far past the end
    EXPECT_TRUE(platform::PropertyListForCode(lying, "8664").empty());
    std::vector<uint8_t> noCode = list;
    noCode.resize(30);
    noCode[6] = 1;
    EXPECT_TRUE(platform::PropertyListForCode(noCode, "8664").empty());
}

TEST(ResourceScriptTest, CursorFileHoldsBothMasksBottomUpWithTheHotSpot) {
    platform::CursorResource cursor{140, 5, 7, {}};
    std::array<std::string, 32> rows;
    rows.fill(std::string(32, '.'));
    rows[0][0] = '#';  // black: AND 0, XOR 0
    rows[0][1] = 'o';  // white: AND 0, XOR 1
    rows[31][31] = '~';  // inverting: AND 1, XOR 1
    for (int y = 0; y < 32; ++y) cursor.rows[y] = rows[size_t(y)].c_str();
    const std::vector<uint8_t> file = platform::CursorFile(cursor);
    ASSERT_EQ(file.size(), 22u + 40u + 8u + 128u + 128u);
    EXPECT_EQ(file[2], 2);                 // a cursor
    EXPECT_EQ(file[6], 32);                // 32 x 32
    EXPECT_EQ(file[10] | file[11] << 8, 5);  // hot spot
    EXPECT_EQ(file[12] | file[13] << 8, 7);
    EXPECT_EQ(file[22 + 8], 64);           // the bitmap is twice the cursor's height
    const size_t xorMask = 22 + 40 + 8;
    const size_t andMask = xorMask + 128;
    // Row 0 of the picture is the last stored row.
    EXPECT_EQ(file[xorMask + 31 * 4], 0x40);
    EXPECT_EQ(file[andMask + 31 * 4], 0x3F);
    // Row 31 is the first stored row; its last pixel inverts.
    EXPECT_EQ(file[xorMask + 3], 0x01);
    EXPECT_EQ(file[andMask + 3], 0xFF);

    cursor.rows[3] = "too short";
    EXPECT_TRUE(platform::CursorFile(cursor).empty());
}

TEST(ResourceScriptTest, ScriptCarriesEveryResourceInTheTablesLanguage) {
    EXPECT_EQ(platform::ScriptString("say \"hi\" C:\\x"), "\"say \"\"hi\"\" C:\\\\x\"");

    const platform::StringResource strings[] = {{1, "Brindle"}, {16001, "Kavel"}};
    const platform::ControlTemplate controls[] = {
        {-1, platform::ControlClass::Static, "&Ratio:", 109, 17, 21, 8, 0x50000000u, 0},
        {1015, platform::ControlClass::Button, "Full View", 6, 1, 96, 104, 0x50000007u, 0x20u},
    };
    const platform::DialogTemplate dialogs[] = {
        {1026, 0x80C800C0u, 0, 0, 0, 272, 334, "Viewer  v1.0", "MS Sans Serif", 8, controls}};
    const platform::VersionResource version = {
        {1, 0, 0, 1}, {1, 0, 0, 1}, 0x3F, 0, 4, 2, 0, 0x0409, 0x04B0, "", "KAVEL DLL",
        "1, 0, 0, 1", "KAVEL", "(c)", "", "KAVEL.DLL", "KAVEL Library", "1, 0, 0, 1"};
    const platform::ResourceTable table{0x0409, strings, dialogs, {}, &version};
    const std::string script = platform::ResourceScript(table, 16000, "KAVEL.pipl");
    for (const char* expected :
         {"LANGUAGE 0x09, 0x01", "16000 PIPL \"KAVEL.pipl\"", "  1, \"Brindle\"",
          "  16001, \"Kavel\"", "1026 DIALOGEX 0, 0, 272, 334", "STYLE 0x80C800C0",
          "CAPTION \"Viewer  v1.0\"", "FONT 8, \"MS Sans Serif\"",
          "CONTROL \"&Ratio:\", -1, \"Static\", 0x50000000, 109, 17, 21, 8, 0x00000000",
          "CONTROL \"Full View\", 1015, \"Button\", 0x50000007, 6, 1, 96, 104, 0x00000020",
          "FILEVERSION 1, 0, 0, 1", "FILEOS 0x00000004", "FILETYPE 0x00000002",
          "BLOCK \"040904b0\"", "VALUE \"OriginalFilename\", \"KAVEL.DLL\"",
          "VALUE \"Translation\", 0x0409, 0x04B0"}) {
        EXPECT_NE(script.find(expected), std::string::npos) << expected << "\n" << script;
    }
}

}  // namespace
