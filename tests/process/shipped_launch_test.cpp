// The restricted launch as shipped: its imports, and a real start.
#include "process/restricted_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "tests/support/clock.h"
#include "tests/support/test_support.h"

namespace {

template <typename Record>
Record ReadAt(const std::string& image, size_t offset) {
    Record record = {};
    if (offset + sizeof record <= image.size()) {
        std::copy_n(image.data() + offset, sizeof record, reinterpret_cast<char*>(&record));
    }
    return record;
}

// Upper-case names of the DLLs in a 64-bit executable's import directory.
std::set<std::string> ImportedDlls(const std::wstring& path) {
    const std::string image = test::ReadFileBytes(path);
    const auto dos = ReadAt<IMAGE_DOS_HEADER>(image, 0);
    const auto nt = ReadAt<IMAGE_NT_HEADERS64>(image, static_cast<size_t>(dos.e_lfanew));
    const size_t firstSection = static_cast<size_t>(dos.e_lfanew) + sizeof(DWORD) +
                                sizeof(IMAGE_FILE_HEADER) + nt.FileHeader.SizeOfOptionalHeader;
    const auto fileOffset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
            const auto section = ReadAt<IMAGE_SECTION_HEADER>(
                image, firstSection + i * sizeof(IMAGE_SECTION_HEADER));
            if (rva >= section.VirtualAddress &&
                rva < section.VirtualAddress + section.SizeOfRawData) {
                return rva - section.VirtualAddress + section.PointerToRawData;
            }
        }
        return image.size();
    };

    std::set<std::string> dlls;
    size_t descriptorOffset =
        fileOffset(nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    for (auto descriptor = ReadAt<IMAGE_IMPORT_DESCRIPTOR>(image, descriptorOffset);
         descriptor.Name != 0;
         descriptor = ReadAt<IMAGE_IMPORT_DESCRIPTOR>(image, descriptorOffset)) {
        std::string name(image.c_str() + std::min(fileOffset(descriptor.Name), image.size()));
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return static_cast<char>(std::toupper(c)); });
        dlls.insert(name);
        descriptorOffset += sizeof descriptor;
    }
    return dlls;
}

// Known system DLLs, and none that sets up the window manager before main.
TEST(ShippedImports, LauncherImportsOnlyKnownSystemDlls) {
    const std::set<std::string> allowed = {"KERNEL32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"};
    const std::set<std::string> dlls = ImportedDlls(test::ProgramPath(L"QuorlLaunch.exe"));
    ASSERT_FALSE(dlls.empty());
    for (const std::string& dll : dlls) {
        EXPECT_EQ(allowed.count(dll), 1u) << dll << " is imported statically";
    }
}

// What the child saw of itself, started as the loader starts the client.
TEST(ShippedRestrictedLaunch, ChildRunsRestrictedInTheParentDirectoryWithOurEnvironment) {
    test::CTempDir root;
    test::MakeDirectory(root / L"app");
    test::CopyFileTo(test::ProgramPath(L"fake_client.exe"), root / L"Quorl.exe");
    const std::wstring recordPath = root / L"record.txt";
    const std::wstring tag = L"tag-" + std::to_wstring(::GetCurrentProcessId());
    ::SetEnvironmentVariableW(L"QUORL_CLIENT_RECORD", recordPath.c_str());
    ::SetEnvironmentVariableW(L"QUORL_FIXTURE_TAG", tag.c_str());

    std::wstring commandLine = L"..\\Quorl.exe";
    RestrictedStart road = RestrictedStart::kNotStarted;
    {
        const test::CCurrentDirScope inApp(root / L"app");
        road = StartRestrictedProcess(&commandLine[0]);
    }
    ::SetEnvironmentVariableW(L"QUORL_CLIENT_RECORD", nullptr);
    ::SetEnvironmentVariableW(L"QUORL_FIXTURE_TAG", nullptr);
    // Wine's Safer token is a stub that no process can be created with.
    EXPECT_EQ(test::RunningUnderWine() ? RestrictedStart::kOwnTokenRestricted
                                       : RestrictedStart::kSaferLevel,
              road);
    ASSERT_NE(RestrictedStart::kNotStarted, road);
    test::WaitUntil([&] { return test::FileExists(recordPath); }, 10000);
    const auto record = test::ReadRecord(recordPath);
    ASSERT_FALSE(record.empty()) << "the child wrote no record";
    EXPECT_EQ(test::FromUtf8(record.at("module")), root / L"Quorl.exe");
    EXPECT_EQ(test::FromUtf8(record.at("cwd")), root.Path());
    EXPECT_EQ(record.at("commandline"), "..\\Quorl.exe");
    EXPECT_EQ(test::FromUtf8(record.at("tag")), tag);
    EXPECT_TRUE(record.at("admins") == "deny-only" || record.at("admins") == "absent")
        << record.at("admins");
}

}  // namespace
