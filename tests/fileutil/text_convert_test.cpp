#include <gtest/gtest.h>

#include <windows.h>

#include <clocale>
#include <string>

#include "fileutil/text_convert.h"

namespace {

TEST(TextConvertTest, EmptyAsciiAndWesternTextRoundTrip) {
    ASSERT_EQ(1252u, ::GetACP()) << "the test expects the prefix's Western code page";
    for (const auto& [wide, narrow] :
         {std::make_pair(L"", ""), std::make_pair(L"..\\Quorl.exe", "..\\Quorl.exe"),
          std::make_pair(L"caf\u00e9", "caf\xe9")}) {
        EXPECT_EQ(narrow, WStringToString(wide));
        EXPECT_EQ(wide, StringToWString(narrow));
    }
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
