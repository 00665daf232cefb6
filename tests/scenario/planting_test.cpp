#include <gtest/gtest.h>

#include <string>

#include "tests/scenario/scenario_support.h"

namespace {

TEST(DllPlanting, NeitherLauncherNorLoaderLoadsAUserenvPlantedBesideThem) {
    test::CInstallation install;
    const std::wstring planted = install.App(L"userenv.dll");
    const std::wstring marker = install.App(L"planted-loaded.txt");
    test::CopyFileTo(test::ProgramPath(L"planted\\userenv.dll"), planted);

    // The fixture does leave its marker in a process that loads it.
    const HMODULE self = ::LoadLibraryW(planted.c_str());
    ASSERT_NE(nullptr, self);
    ::FreeLibrary(self);
    ASSERT_TRUE(test::FileExists(marker));
    ::DeleteFileW(marker.c_str());

    ASSERT_TRUE(install.RunLauncher(L"").finished);
    ASSERT_TRUE(install.WaitForLoader());
    EXPECT_FALSE(test::FileExists(marker)) << test::ReadFileBytes(marker);
    // The loader went on to the client's restricted start, the one step that
    // needs userenv.dll.
    EXPECT_EQ(1u, test::CountOf(install.LogMessages(), "check Quorl.exe OK exec it"));
}

}  // namespace
