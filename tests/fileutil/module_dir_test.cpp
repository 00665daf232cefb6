#include <gtest/gtest.h>

#include "fileutil/module_dir.h"
#include "tests/support/test_support.h"

namespace {

TEST(ModuleDirTest, DirectoryIsTheProgramsOwnWithoutTrailingSeparator) {
    const std::wstring dir = GetModuleDirW();
    EXPECT_EQ(test::ProgramDir(), dir);
    EXPECT_NE(L'\\', dir.back());
    EXPECT_EQ(dir + L"\\fileutil_test.exe", GetModuleFilePathW());
    EXPECT_EQ(WideToAnsi(dir.c_str()), GetModuleDirA());
}

TEST(ModuleDirTest, SetCurrentDirToModuleDirMovesTheWorkingDirectory) {
    test::CTempDir elsewhere;
    test::CCurrentDirScope restore(elsewhere.Path());
    std::string narrowDir;
    EXPECT_TRUE(SetCurrentDirToModuleDir(narrowDir));
    EXPECT_EQ(GetModuleDirA(), narrowDir);
    wchar_t current[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_EQ(test::ProgramDir(), current);
}

TEST(WideToAnsiTest, CharacterOutsideTheCodePageBecomesItsDefaultCharacter) {
    ASSERT_EQ(1252u, ::GetACP()) << "the test expects the prefix's Western code page";
    EXPECT_EQ("a?b\xe9", WideToAnsi(L"a\u4e2db\u00e9"));
    EXPECT_EQ("", WideToAnsi(L""));
}

}  // namespace
