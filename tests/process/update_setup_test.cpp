#include "process/update_setup.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "tests/support/clock.h"
#include "tests/support/test_support.h"

namespace {

// RunUpdateSetupAndWait on a thread of its own, so that a box nobody closes
// cannot hold the test for ever.
class CBoundedRun {
public:
    CBoundedRun() : m_thread(::CreateThread(nullptr, 0, &CBoundedRun::Run, this, 0, &m_id)) {}

    // False when the call had not returned within the limit; its windows are
    // then closed so the thread can end.
    bool Wait(DWORD timeoutMs) {
        if (::WaitForSingleObject(m_thread.Get(), timeoutMs) == WAIT_OBJECT_0) {
            return true;
        }
        ::EnumThreadWindows(m_id, &CBoundedRun::PressOk, 0);
        ::WaitForSingleObject(m_thread.Get(), 5000);
        return false;
    }
    bool Result() const { return m_result; }

private:
    static DWORD WINAPI Run(void* context) {
        auto* self = static_cast<CBoundedRun*>(context);
        self->m_result = RunUpdateSetupAndWait(L"..\\update\\setup.exe");
        return 0;
    }
    static BOOL CALLBACK PressOk(HWND window, LPARAM) {
        ::PostMessageW(window, WM_COMMAND, IDOK, 0);
        return TRUE;
    }

    bool m_result = false;
    DWORD m_id = 0;
    CScopedKernelHandle m_thread;
};

std::wstring MadeDirectory(const std::wstring& path) {
    test::MakeDirectory(path);
    return path;
}

// root\app is the working directory; the installer belongs in root\update.
class UpdateSetupRun : public ::testing::Test {
protected:
    UpdateSetupRun()
        : m_appDir(MadeDirectory(m_root / L"app")),
          m_recordPath(m_root / L"setup-record.txt"),
          m_inAppDir(m_appDir) {
        ::SetEnvironmentVariableW(L"QUORL_SETUP_RECORD", m_recordPath.c_str());
    }
    ~UpdateSetupRun() override {
        ::SetEnvironmentVariableW(L"QUORL_SETUP_RECORD", nullptr);
        ::SetEnvironmentVariableW(L"QUORL_SETUP_MS", nullptr);
    }

    void PlaceInstaller() {
        test::MakeDirectory(m_root / L"update");
        test::CopyFileTo(test::ProgramPath(L"fake_setup.exe"), m_root / L"update\\setup.exe");
    }

    test::CTempDir m_root;
    const std::wstring m_appDir;
    const std::wstring m_recordPath;
    test::CCurrentDirScope m_inAppDir;
};

TEST_F(UpdateSetupRun, ReturnsOnlyAfterTheInstallerHasEnded) {
    PlaceInstaller();

    const std::uint64_t before = test::Now();
    CBoundedRun run;
    ASSERT_TRUE(run.Wait(60000)) << "the installer run did not return";
    const std::uint64_t after = test::Now();

    EXPECT_TRUE(run.Result());
    const auto record = test::ReadRecord(m_recordPath);
    ASSERT_EQ(record.count("end"), 1u) << "the installer had not ended when the call returned";
    const std::uint64_t start = std::stoull(record.at("start"));
    const std::uint64_t end = std::stoull(record.at("end"));
    EXPECT_LE(before, start);
    EXPECT_LE(end, after);
    EXPECT_GE(end - start, 1400 * test::kNowTicksPerMs);
}

TEST_F(UpdateSetupRun, InstallerGetsNoParametersAndOurDirectory) {
    PlaceInstaller();
    ::SetEnvironmentVariableW(L"QUORL_SETUP_MS", L"0");
    CBoundedRun run;
    const bool returned = run.Wait(60000);
    ::SetEnvironmentVariableW(L"QUORL_SETUP_MS", nullptr);
    ASSERT_TRUE(returned);

    const auto record = test::ReadRecord(m_recordPath);
    EXPECT_EQ(record.at("parameters"), "") << "command line: " << record.at("commandline");
    EXPECT_EQ(test::FromUtf8(record.at("cwd")), m_appDir);
}

TEST_F(UpdateSetupRun, LeavesTheHandleCountAsItFoundIt) {
    PlaceInstaller();
    ::SetEnvironmentVariableW(L"QUORL_SETUP_MS", L"0");
    // The shell keeps a handle of its own from the first start on; only a
    // second run shows what the call itself leaves behind.
    DWORD before = 0;
    for (int run = 0; run < 2; ++run) {
        before = test::OwnHandleCount();
        CBoundedRun bounded;
        ASSERT_TRUE(bounded.Wait(60000));
    }
    ASSERT_NE(0u, before);
    EXPECT_EQ(before, test::OwnHandleCount());
}

TEST_F(UpdateSetupRun, ReportsAMissingInstallerWithoutABoxOfTheShells) {
    CBoundedRun run;
    // A box would hold the call until somebody closed it.
    ASSERT_TRUE(run.Wait(10000)) << "the shell showed a box";
    EXPECT_FALSE(run.Result());
    EXPECT_FALSE(test::FileExists(m_recordPath));
}

}  // namespace
