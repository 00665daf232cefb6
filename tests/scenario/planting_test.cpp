#include <gtest/gtest.h>

#include <string>

#include "tests/scenario/scenario_support.h"

namespace {

TEST(DllPlanting, NeitherLauncherNorLoaderLoadsASystemDllPlantedBesideThem) {
    if (!test::FileExists(test::ProgramPath(test::kSignedLauncher))) {
        GTEST_SKIP() << test::kNoSignedPrograms;
    }
    // Signed, with a signed installer pending, the loader needs all three.
    test::CInstallation install(L"app", test::kSignedLauncher);
    install.AddPendingInstaller(L"signed\\setup-same.exe");
    for (const wchar_t* dll : {L"userenv.dll", L"wintrust.dll", L"crypt32.dll"}) {
        test::CopyFileTo(test::ProgramPath(std::wstring(L"planted\\") + dll), install.App(dll));
    }
    const std::wstring planted = install.App(L"userenv.dll");
    const std::wstring marker = install.App(L"planted-loaded.txt");

    // The fixture does leave its marker in a process that loads it.
    const HMODULE self = ::LoadLibraryW(planted.c_str());
    ASSERT_NE(nullptr, self);
    ::FreeLibrary(self);
    ASSERT_TRUE(test::FileExists(marker));
    ::DeleteFileW(marker.c_str());

    ASSERT_TRUE(install.RunLauncher(L"").finished);
    ASSERT_TRUE(install.WaitForLoader());
    EXPECT_FALSE(test::FileExists(marker)) << test::ReadFileBytes(marker);
    // The loader checked and ran the installer, which needs wintrust.dll and
    // crypt32.dll, and went on to the client's restricted start, which needs
    // userenv.dll.
    const std::vector<std::string> messages = install.LogMessages();
    EXPECT_EQ(1u,
              test::CountOf(messages, "setup.exe exit, backup it setup.exe -> setup.exe.bak ..."));
    EXPECT_EQ(1u, test::CountOf(messages, "check Quorl.exe OK exec it"));
}

}  // namespace
