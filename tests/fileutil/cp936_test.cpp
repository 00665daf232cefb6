// Runs in a process whose ANSI code page is the Chinese 936 (see CMakeLists.txt).
// Wine then cannot map non-ASCII file names to the host, so only text is tested.
#include <gtest/gtest.h>

#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "fileutil/text_convert.h"

namespace {

// "Program\Mail client.exe" in Chinese, with an ASCII drive and extension.
const wchar_t kChinesePath[] = L"C:\\\u7a0b\u5e8f\\\u90ae\u4ef6\u5ba2\u6237\u7aef.exe";

std::string ToCodePage936(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(936, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(936, 0, text.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    bytes.pop_back();
    return bytes;
}

class ChineseCodePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(936u, ::GetACP()) << "LC_ALL=zh_CN.UTF-8 did not reach Wine";
    }
};

TEST_F(ChineseCodePageTest, ChineseTextRoundTrips) {
    const std::string narrow = WStringToString(kChinesePath);
    EXPECT_EQ(ToCodePage936(kChinesePath), narrow);
    EXPECT_EQ(kChinesePath, StringToWString(narrow));
}

TEST_F(ChineseCodePageTest, LaterRuntimeCallsDecodeWithTheUserDefaultLocale) {
    std::setlocale(LC_CTYPE, "C");
    StringToWString("x");
    wchar_t decoded[2] = {};
    EXPECT_EQ(1u, std::mbstowcs(decoded, ToCodePage936(L"\u4e2d").c_str(), 2));
    EXPECT_EQ(L'\u4e2d', decoded[0]);
}

TEST_F(ChineseCodePageTest, UnconvertibleInputGivesEmptyText) {
    // Thai is outside the code page; a lone lead byte ends mid-character.
    EXPECT_EQ("", WStringToString(L"\u4e2d\u0e01"));
    EXPECT_EQ(L"", StringToWString("ab\xd6"));
}

}  // namespace
