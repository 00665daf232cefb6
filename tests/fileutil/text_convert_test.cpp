#include <gtest/gtest.h>

#include <windows.h>

#include <clocale>
#include <string>

#include "fileutil/text_convert.h"

namespace {

TEST(TextConvertTest, EmptyTextStaysEmptyBothWays) {
    EXPECT_EQ(L"", StringToWString(""));
    EXPECT_EQ("", WStringToString(L""));
}

TEST(TextConvertTest, AsciiAndWesternTextRoundTrip) {
    ASSERT_EQ(1252u, ::GetACP()) << "the test expects the prefix's Western code page";
    EXPECT_EQ("..\\Quorl.exe", WStringToString(L"..\\Quorl.exe"));
    EXPECT_EQ(L"..\\Quorl.exe", StringToWString("..\\Quorl.exe"));
    EXPECT_EQ("caf\xe9", WStringToString(L"caf\u00e9"));
    EXPECT_EQ(L"caf\u00e9", StringToWString("caf\xe9"));
}

// The runtime's converter stops at such a character without writing a NUL,
// so reading its buffer up to a NUL would run past the converted text.
TEST(TextConvertTest, CharacterTheCodePageLacksGivesEmptyText) {
    ASSERT_EQ(1252u, ::GetACP());
    EXPECT_EQ("", WStringToString(L"a\u4e2db"));
    EXPECT_EQ("", WStringToString(std::wstring(300, L'x') + L"\u4e2d"));
}

TEST(TextConvertTest, EveryConversionLeavesTheUserDefaultLocaleBehind) {
    const std::string userDefault = std::setlocale(LC_CTYPE, "");
    ASSERT_NE("C", userDefault);

    std::setlocale(LC_CTYPE, "C");
    StringToWString("");
    EXPECT_EQ(userDefault, std::setlocale(LC_CTYPE, nullptr));

    std::setlocale(LC_CTYPE, "C");
    WStringToString(L"x");
    EXPECT_EQ(userDefault, std::setlocale(LC_CTYPE, nullptr));
}

}  // namespace
