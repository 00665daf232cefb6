#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/scenario/scenario_support.h"

namespace {

// Resource types by number: the narrow RT_ names do not fit the wide calls.
const wchar_t* const kManifestType = MAKEINTRESOURCEW(24);
const wchar_t* const kIconGroupType = MAKEINTRESOURCEW(14);
const wchar_t* const kVersionType = MAKEINTRESOURCEW(16);

class ShippedExecutable : public ::testing::Test {
protected:
    std::string Resource(const wchar_t* type, const wchar_t* name) const {
        const HRSRC found = ::FindResourceW(m_image.Get(), name, type);
        if (found == nullptr) {
            return std::string();
        }
        const auto* data =
            static_cast<const char*>(::LockResource(::LoadResource(m_image.Get(), found)));
        return std::string(data, ::SizeofResource(m_image.Get(), found));
    }

    const std::wstring m_path = test::ProgramPath(L"QuorlLaunch.exe");
    const CScopedNullable<HMODULE, ::FreeLibrary> m_image{::LoadLibraryExW(
        m_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
};

TEST_F(ShippedExecutable, IsA64BitWindowedProgram) {
    const std::string image = test::ReadFileBytes(m_path);
    IMAGE_DOS_HEADER dos = {};
    ASSERT_GT(image.size(), sizeof dos);
    std::memcpy(&dos, image.data(), sizeof dos);
    IMAGE_NT_HEADERS64 nt = {};
    ASSERT_GE(image.size(), static_cast<size_t>(dos.e_lfanew) + sizeof nt);
    std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, nt.OptionalHeader.Magic);
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, nt.FileHeader.Machine);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt.OptionalHeader.Subsystem);
}

TEST_F(ShippedExecutable, AsksForTheRightsOfWhoeverStartsIt) {
    ASSERT_TRUE(m_image.IsValid());
    const std::string manifest = Resource(kManifestType, MAKEINTRESOURCEW(1));
    EXPECT_NE(std::string::npos,
              manifest.find(R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"))
        << manifest;
}

TEST_F(ShippedExecutable, CarriesAnIconAndVersionInformation) {
    ASSERT_TRUE(m_image.IsValid());
    EXPECT_FALSE(Resource(kIconGroupType, MAKEINTRESOURCEW(1)).empty());
    const std::string version = Resource(kVersionType, MAKEINTRESOURCEW(VS_VERSION_INFO));
    ASSERT_FALSE(version.empty());
    const std::wstring text(reinterpret_cast<const wchar_t*>(version.data()),
                            version.size() / sizeof(wchar_t));
    EXPECT_NE(std::wstring::npos, text.find(L"QuorlLaunch.exe"));
}

}  // namespace
