// Runs restricted_process.cpp against the recording stand-ins of
// fake_platform_calls.h: first with scripted results, then with real calls
// and a real primary token, so that a child really starts.
#include "process/restricted_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fake_platform_calls.h"
#include "tests/support/test_support.h"

namespace {

using Calls = std::vector<std::string>;

const char kCreateLevel[] = "SaferCreateLevel(scope=2, level=0x20000, flags=1, reserved=null)";
const char kComputeToken[] = "SaferComputeTokenFromLevel(level, in=null, flags=0, reserved=null)";
const char kCloseLevel[] = "SaferCloseLevel(level)";
const char kAllocateSid[] = "AllocateAndInitializeSid(count=1)";
const char kSetLabel[] =
    "SetTokenInformation(token, class=25, sid=S-1-16-8192, attributes=0x20, length=label+sid)";
const char kFreeSid[] = "FreeSid(sid)";
const char kLoadUserEnv[] = "LoadLibraryExW(userenv.dll, file=null, flags=0x800)";
const char kGetCreateBlock[] = "GetProcAddress(userenv, CreateEnvironmentBlock)";
const char kGetDestroyBlock[] = "GetProcAddress(userenv, DestroyEnvironmentBlock)";
const char kCreateBlock[] = "CreateEnvironmentBlock(token, inherit=1)";
const char kDestroyBlock[] = "DestroyEnvironmentBlock(block)";
const char kFreeUserEnv[] = "FreeLibrary(userenv)";
const char kCloseProcess[] = "CloseHandle(process)";
const char kCloseThread[] = "CloseHandle(thread)";
const char kCloseToken[] = "CloseHandle(token)";

std::string CreateProcessCall(const std::string& commandLine, const char* flags,
                              const char* environment) {
    return "CreateProcessAsUserW(token, app=null, cmd=" + commandLine +
           ", processAttributes=null, threadAttributes=null, inherit=0, flags=" + flags +
           ", env=" + environment + ", dir=..\\, desktop=winsta0\\default, startup=plain)";
}

bool StartWith(const fake::Script& script, std::wstring commandLine = L"..\\Quorl.exe") {
    fake::Start(script);
    return StartRestrictedProcess(&commandLine[0]);
}

// Every call of a launch in which nothing fails, in order.
Calls SuccessfulLaunch() {
    return {kCreateLevel,
            kComputeToken,
            kCloseLevel,
            kAllocateSid,
            kSetLabel,
            kFreeSid,
            kLoadUserEnv,
            kGetCreateBlock,
            kGetDestroyBlock,
            kCreateBlock,
            CreateProcessCall("..\\Quorl.exe", "0x430", "block"),
            kCloseProcess,
            kCloseThread,
            kDestroyBlock,
            kFreeUserEnv,
            kCloseToken};
}

Calls Without(Calls calls, const Calls& leftOut) {
    for (const std::string& call : leftOut) {
        calls.erase(std::find(calls.begin(), calls.end(), call));
    }
    return calls;
}

// The same calls, with the process created under our own environment.
Calls WithoutEnvironmentBlock(Calls calls) {
    std::replace(calls.begin(), calls.end(), CreateProcessCall("..\\Quorl.exe", "0x430", "block"),
                 CreateProcessCall("..\\Quorl.exe", "0x30", "null"));
    return calls;
}

TEST(StartRestrictedProcess, StartsUnderTheTokenWithTheUserEnvironmentAndReleasesEverything) {
    EXPECT_TRUE(StartWith({}));
    EXPECT_EQ(fake::Calls(), SuccessfulLaunch());
}

TEST(StartRestrictedProcess, StopsAtOnceWithoutASaferLevel) {
    fake::Script script;
    script.createLevelFails = true;
    EXPECT_FALSE(StartWith(script));
    EXPECT_EQ(fake::Calls(), Calls{kCreateLevel});
}

TEST(StartRestrictedProcess, ClosesTheLevelAndStopsWithoutAToken) {
    fake::Script script;
    script.computeTokenFails = true;
    EXPECT_FALSE(StartWith(script));
    EXPECT_EQ(fake::Calls(), (Calls{kCreateLevel, kComputeToken, kCloseLevel}));
}

TEST(StartRestrictedProcess, StartsWithTheSaferTokenWhenTheLabelCannotBeSet) {
    fake::Script labelRefused;
    labelRefused.setLabelFails = true;
    EXPECT_TRUE(StartWith(labelRefused));
    EXPECT_EQ(fake::Calls(), SuccessfulLaunch());

    fake::Script noSid;
    noSid.allocateSidFails = true;
    EXPECT_TRUE(StartWith(noSid));
    EXPECT_EQ(fake::Calls(), Without(SuccessfulLaunch(), {kSetLabel, kFreeSid}));
}

TEST(StartRestrictedProcess, FallsBackToOurEnvironmentWithoutAnEnvironmentBlock) {
    fake::Script noBlock;
    noBlock.createBlockFails = true;
    EXPECT_TRUE(StartWith(noBlock));
    const Calls withoutBlock =
        WithoutEnvironmentBlock(Without(SuccessfulLaunch(), {kDestroyBlock}));
    EXPECT_EQ(fake::Calls(), withoutBlock);

    fake::Script noUserEnv;
    noUserEnv.loadUserEnvFails = true;
    EXPECT_TRUE(StartWith(noUserEnv));
    const Calls withoutUserEnv = WithoutEnvironmentBlock(
        Without(SuccessfulLaunch(),
                {kGetCreateBlock, kGetDestroyBlock, kCreateBlock, kDestroyBlock, kFreeUserEnv}));
    EXPECT_EQ(fake::Calls(), withoutUserEnv);
}

TEST(StartRestrictedProcess, ReleasesTheBlockAndTokenWhenTheProcessCannotBeCreated) {
    fake::Script script;
    script.createProcessFails = true;
    EXPECT_FALSE(StartWith(script, L"..\\my client.exe"));
    const Calls expected = {kCreateLevel,
                            kComputeToken,
                            kCloseLevel,
                            kAllocateSid,
                            kSetLabel,
                            kFreeSid,
                            kLoadUserEnv,
                            kGetCreateBlock,
                            kGetDestroyBlock,
                            kCreateBlock,
                            CreateProcessCall("..\\my client.exe", "0x430", "block"),
                            kDestroyBlock,
                            kFreeUserEnv,
                            kCloseToken};
    EXPECT_EQ(fake::Calls(), expected);
}

TEST(SetMediumIntegrity, ReportsWhetherTheLabelWasSet) {
    const HANDLE token = reinterpret_cast<HANDLE>(std::uintptr_t{0x1002});
    fake::Start({});
    EXPECT_TRUE(SetMediumIntegrity(token));
    EXPECT_EQ(fake::Calls(), (Calls{kAllocateSid, kSetLabel, kFreeSid}));

    fake::Script labelRefused;
    labelRefused.setLabelFails = true;
    fake::Start(labelRefused);
    EXPECT_FALSE(SetMediumIntegrity(token));
    EXPECT_EQ(fake::Calls().back(), kFreeSid);

    fake::Script noSid;
    noSid.allocateSidFails = true;
    fake::Start(noSid);
    EXPECT_FALSE(SetMediumIntegrity(token));
    EXPECT_EQ(fake::Calls(), Calls{kAllocateSid});
}

// Real calls from here on; only the token is our own, duplicated as a primary token.
class RealChildStart : public ::testing::Test {
protected:
    RealChildStart() : m_workDir(m_root.Path() + L"\\app"), m_recordPath(m_root / L"record.txt") {
        test::MakeDirectory(m_workDir);
        ::SetEnvironmentVariableW(L"QUORL_CLIENT_RECORD", m_recordPath.c_str());
        ::SetEnvironmentVariableW(L"QUORL_FIXTURE_TAG", m_tag.c_str());
    }
    ~RealChildStart() override {
        ::SetEnvironmentVariableW(L"QUORL_CLIENT_RECORD", nullptr);
        ::SetEnvironmentVariableW(L"QUORL_FIXTURE_TAG", nullptr);
    }

    bool StartFromWorkDir(const std::wstring& commandLine) {
        fake::Script real;
        real.realCalls = true;
        const test::CCurrentDirScope inWorkDir(m_workDir);
        return StartWith(real, commandLine);
    }

    // The fake client's record as key/value lines; empty when none came in time.
    std::map<std::string, std::string> WaitForRecord() const {
        for (int i = 0; i < 200 && !test::FileExists(m_recordPath); ++i) {
            ::Sleep(50);
        }
        return test::ReadRecord(m_recordPath);
    }

    test::CTempDir m_root;
    const std::wstring m_workDir;
    const std::wstring m_recordPath;
    const std::wstring m_tag = L"tag-" + std::to_wstring(::GetCurrentProcessId());
};

TEST_F(RealChildStart, ChildRunsInTheParentDirectoryWithOurEnvironment) {
    test::CopyFileTo(test::ProgramPath(L"fake_client.exe"), m_root / L"Quorl.exe");

    ASSERT_TRUE(StartFromWorkDir(L"..\\Quorl.exe"));

    const auto record = WaitForRecord();
    ASSERT_FALSE(record.empty()) << "the child wrote no record";
    EXPECT_EQ(test::FromUtf8(record.at("module")), m_root / L"Quorl.exe");
    EXPECT_EQ(test::FromUtf8(record.at("cwd")), m_root.Path());
    EXPECT_EQ(record.at("commandline"), "..\\Quorl.exe");
    EXPECT_EQ(test::FromUtf8(record.at("tag")), m_tag);
    EXPECT_NE(fake::Calls().end(), std::find(fake::Calls().begin(), fake::Calls().end(),
                                             CreateProcessCall("..\\Quorl.exe", "0x430", "block")));
    const Calls releases(fake::Calls().end() - 5, fake::Calls().end());
    EXPECT_EQ(releases,
              (Calls{kCloseProcess, kCloseThread, kDestroyBlock, kFreeUserEnv, kCloseToken}));
}

TEST_F(RealChildStart, QuotedPathWithABlankStartsThatProgram) {
    test::MakeDirectory(m_root / L"my apps");
    const std::wstring client = m_root / L"my apps\\fake client.exe";
    test::CopyFileTo(test::ProgramPath(L"fake_client.exe"), client);
    // What an unquoted form of the path would start first.
    test::CopyFileTo(test::ProgramPath(L"fake_client.exe"), m_root / L"my.exe");

    const std::wstring commandLine = L"\"" + client + L"\"";
    ASSERT_TRUE(StartFromWorkDir(commandLine));

    const auto record = WaitForRecord();
    ASSERT_FALSE(record.empty()) << "the child wrote no record";
    EXPECT_EQ(test::FromUtf8(record.at("module")), client);
    EXPECT_EQ(test::FromUtf8(record.at("commandline")), commandLine);
    EXPECT_EQ(test::FromUtf8(record.at("cwd")), m_root.Path());
}

}  // namespace
