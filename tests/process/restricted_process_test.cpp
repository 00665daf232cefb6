// Runs restricted_process.cpp against the recording stand-ins of
// fake_platform_calls.h: first with scripted results, then with real calls,
// so that a child really starts.
#include "process/restricted_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fake_platform_calls.h"
#include "tests/fixtures/fixture_support.h"
#include "tests/support/test_support.h"

namespace {

using Calls = std::vector<std::string>;

const char kCreateLevel[] = "SaferCreateLevel(scope=2, level=0x20000, flags=1, reserved=null)";
const char kComputeToken[] = "SaferComputeTokenFromLevel(level, in=null, flags=0, reserved=null)";
// TOKEN_ASSIGN_PRIMARY, DUPLICATE, QUERY, IMPERSONATE and ADJUST_DEFAULT.
const char kOpenOwnToken[] = "OpenProcessToken(self, access=0x8f)";
const char kRestrictOwnToken[] =
    "CreateRestrictedToken(own token, flags=0x1, deny-only=[S-1-5-32-544:0x0], delete=0, "
    "restrict=0)";
const char kLoadUserEnv[] = "LoadLibraryExW(userenv.dll, file=null, flags=0x800)";

std::string SetLabelCall(const std::string& token) {
    return "SetTokenInformation(" + token +
           ", class=25, sid=S-1-16-8192, attributes=0x20, length=label+sid)";
}

std::string CreateBlockCall(const std::string& token) {
    return "CreateEnvironmentBlock(" + token + ", inherit=1)";
}

std::string CreateProcessCall(const std::string& token, const char* flags = "0x430",
                              const char* environment = "block",
                              const std::string& commandLine = "..\\Quorl.exe") {
    return "CreateProcessAsUserW(" + token + ", app=null, cmd=" + commandLine +
           ", processAttributes=null, threadAttributes=null, inherit=0, flags=" + flags +
           ", env=" + environment + ", dir=..\\, desktop=winsta0\\default, startup=plain)";
}

RestrictedStart StartWith(const fake::Script& script, std::wstring commandLine = L"..\\Quorl.exe") {
    fake::Start(script);
    return StartRestrictedProcess(&commandLine[0]);
}

bool Made(const std::string& call) {
    const Calls& calls = fake::Calls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

size_t CountStartingWith(const std::string& prefix) {
    const Calls& calls = fake::Calls();
    return static_cast<size_t>(std::count_if(calls.begin(), calls.end(), [&](const auto& call) {
        return call.compare(0, prefix.size(), prefix) == 0;
    }));
}

// What holds on every path: all that was acquired was released, and no
// process creation was ever tried with anything but a restricted token.
void ExpectReleasedAndRestricted() {
    EXPECT_EQ(fake::Unreleased(), Calls{});
    for (const std::string& token : fake::ProcessTokens()) {
        EXPECT_TRUE(token == "safer token" || token == "restricted token") << token;
    }
}

// A process that lives on with the block it got is no concern of ours, but
// the block belongs to the token: it goes first.
void ExpectBlockDestroyedBeforeTokenClosed(const std::string& token) {
    const Calls& calls = fake::Calls();
    const auto destroyed = std::find(calls.begin(), calls.end(), "DestroyEnvironmentBlock(block)");
    const auto closed = std::find(calls.begin(), calls.end(), "CloseHandle(" + token + ")");
    ASSERT_NE(calls.end(), closed);
    EXPECT_LT(destroyed, closed);
}

struct Failure {
    const char* name;
    fake::Script script;
    const char* blockToken = "restricted token";  // the first token a start is tried with
};

fake::Script Scripted(bool fake::Script::*failure, bool saferFails = false) {
    fake::Script script;
    script.*failure = true;
    script.createLevelFails = script.createLevelFails || saferFails;
    return script;
}

TEST(StartRestrictedProcess, SaferRoadStartsTheClientAndMakesNoFallback) {
    EXPECT_EQ(RestrictedStart::kSaferLevel, StartWith({}));
    for (const std::string& call :
         {std::string(kCreateLevel), std::string(kComputeToken), SetLabelCall("safer token"),
          std::string(kLoadUserEnv), CreateBlockCall("safer token"),
          CreateProcessCall("safer token")}) {
        EXPECT_TRUE(Made(call)) << call;
    }
    EXPECT_EQ(0u, CountStartingWith("OpenProcessToken"));
    EXPECT_EQ(fake::ProcessTokens(), Calls{"safer token"});
    ExpectReleasedAndRestricted();
    ExpectBlockDestroyedBeforeTokenClosed("safer token");
}

TEST(StartRestrictedProcess, FallsBackToARestrictedTokenAfterEachSaferFailure) {
    for (const Failure& failure :
         {Failure{"no level", Scripted(&fake::Script::createLevelFails)},
          Failure{"no token", Scripted(&fake::Script::computeTokenFails)},
          Failure{"no usable token", Scripted(&fake::Script::saferTokenUnusable)},
          Failure{"owner and default DACL refused",
                  Scripted(&fake::Script::setDefaultsFails, true)},
          Failure{"token refused", Scripted(&fake::Script::saferProcessFails), "safer token"}}) {
        SCOPED_TRACE(failure.name);
        EXPECT_EQ(RestrictedStart::kOwnTokenRestricted, StartWith(failure.script));
        for (const std::string& call :
             {std::string(kOpenOwnToken), std::string(kRestrictOwnToken),
              SetLabelCall("restricted token"), CreateBlockCall(failure.blockToken),
              CreateProcessCall("restricted token")}) {
            EXPECT_TRUE(Made(call)) << call;
        }
        EXPECT_EQ("restricted token", fake::ProcessTokens().back());
        EXPECT_EQ(1u, CountStartingWith("CreateEnvironmentBlock"));
        ExpectReleasedAndRestricted();
        ExpectBlockDestroyedBeforeTokenClosed(failure.blockToken);
    }
}

TEST(StartRestrictedProcess, SetsTheUsersOwnerAndDefaultDaclBeforeCreation) {
    StartWith(Scripted(&fake::Script::saferTokenUnusable));
    const std::string user = fixture::UserSid(fake::kOwnProcessToken);
    const std::string fullAccess = ":" + std::to_string(GENERIC_ALL);
    const Calls& calls = fake::Calls();
    const auto created =
        std::find(calls.begin(), calls.end(), CreateProcessCall("restricted token"));
    for (const std::string& call : {"SetTokenInformation(restricted token, class=4, " + user + ")",
                                    "SetTokenInformation(restricted token, class=6, " + user +
                                        fullAccess + " S-1-5-18" + fullAccess + ")"}) {
        EXPECT_LT(std::find(calls.begin(), created, call), created) << call;
    }
}

TEST(StartRestrictedProcess, StartsNothingWhenTheFallbackFailsToo) {
    for (const Failure& failure :
         {Failure{"own token not opened", Scripted(&fake::Script::openTokenFails, true)},
          Failure{"no Administrators SID", Scripted(&fake::Script::allocateSidFails, true)},
          Failure{"token not restricted", Scripted(&fake::Script::restrictTokenFails, true)},
          Failure{"every creation refused", Scripted(&fake::Script::createProcessFails)}}) {
        SCOPED_TRACE(failure.name);
        EXPECT_EQ(RestrictedStart::kNotStarted, StartWith(failure.script));
        ExpectReleasedAndRestricted();
    }
}

TEST(StartRestrictedProcess, StartsWithoutTheLabelWhenItCannotBeSet) {
    fake::Script labelRefused;
    labelRefused.setLabelFails = true;
    EXPECT_EQ(RestrictedStart::kSaferLevel, StartWith(labelRefused));
    ExpectReleasedAndRestricted();

    fake::Script noSid;
    noSid.allocateSidFails = true;
    EXPECT_EQ(RestrictedStart::kSaferLevel, StartWith(noSid));
    EXPECT_EQ(0u, CountStartingWith("SetTokenInformation"));
    ExpectReleasedAndRestricted();
}

TEST(StartRestrictedProcess, FallsBackToOurEnvironmentWithoutAnEnvironmentBlock) {
    for (const Failure& failure :
         {Failure{"no block", Scripted(&fake::Script::createBlockFails)},
          Failure{"no userenv.dll", Scripted(&fake::Script::loadUserEnvFails)}}) {
        SCOPED_TRACE(failure.name);
        EXPECT_EQ(RestrictedStart::kSaferLevel, StartWith(failure.script));
        EXPECT_TRUE(Made(CreateProcessCall("safer token", "0x30", "null")));
        ExpectReleasedAndRestricted();
    }
    // Only a refused search flag sends the load down the full path.
    EXPECT_EQ(1u, CountStartingWith("LoadLibraryExW"));
}

TEST(StartRestrictedProcess, LoadsUserEnvByItsSystemPathWhereTheSearchFlagIsRefused) {
    EXPECT_EQ(RestrictedStart::kSaferLevel, StartWith(Scripted(&fake::Script::searchFlagRefused)));
    wchar_t systemDir[MAX_PATH + 1] = {};
    ::GetSystemDirectoryW(systemDir, MAX_PATH);
    // LOAD_WITH_ALTERED_SEARCH_PATH: its own imports are looked for beside it.
    EXPECT_TRUE(Made(kLoadUserEnv));
    EXPECT_TRUE(
        Made("LoadLibraryExW(" + test::ToUtf8(systemDir) + "\\userenv.dll, file=null, flags=0x8)"));
    EXPECT_TRUE(Made(CreateProcessCall("safer token")));
    ExpectReleasedAndRestricted();
}

TEST(StartRestrictedProcess, PassesTheCommandLineUnchanged) {
    fake::Script script;
    script.createProcessFails = true;
    StartWith(script, L"\"..\\my client.exe\"");
    EXPECT_TRUE(Made(CreateProcessCall("safer token", "0x430", "block", "\"..\\my client.exe\"")));
    EXPECT_TRUE(
        Made(CreateProcessCall("restricted token", "0x430", "block", "\"..\\my client.exe\"")));
}

TEST(SetMediumIntegrity, ReportsWhetherTheLabelWasSet) {
    const HANDLE token = reinterpret_cast<HANDLE>(std::uintptr_t{0x1002});
    fake::Start({});
    EXPECT_TRUE(SetMediumIntegrity(token));
    EXPECT_EQ(fake::Unreleased(), Calls{});

    fake::Script labelRefused;
    labelRefused.setLabelFails = true;
    fake::Start(labelRefused);
    EXPECT_FALSE(SetMediumIntegrity(token));
    EXPECT_EQ(fake::Calls().back(), "FreeSid(label sid)");

    fake::Script noSid;
    noSid.allocateSidFails = true;
    fake::Start(noSid);
    EXPECT_FALSE(SetMediumIntegrity(token));
    EXPECT_EQ(fake::Calls(), Calls{"AllocateAndInitializeSid(count=1)"});
}

// Real calls from here on: under Wine the Safer token is a stub, so these
// start the child under the restricted token; on Windows under Safer's.
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

    RestrictedStart StartFromWorkDir(const std::wstring& commandLine) {
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

TEST_F(RealChildStart, ChildRunsRestrictedInTheParentDirectoryWithOurEnvironment) {
    test::CopyFileTo(test::ProgramPath(L"fake_client.exe"), m_root / L"Quorl.exe");

    const RestrictedStart road = StartFromWorkDir(L"..\\Quorl.exe");
    ASSERT_NE(RestrictedStart::kNotStarted, road);
    ExpectReleasedAndRestricted();

    const auto record = WaitForRecord();
    ASSERT_FALSE(record.empty()) << "the child wrote no record";
    EXPECT_EQ(test::FromUtf8(record.at("module")), m_root / L"Quorl.exe");
    EXPECT_EQ(test::FromUtf8(record.at("cwd")), m_root.Path());
    EXPECT_EQ(record.at("commandline"), "..\\Quorl.exe");
    EXPECT_EQ(test::FromUtf8(record.at("tag")), m_tag);
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    const CScopedKernelHandle ownToken(token);
    if (std::string(fixture::AdministratorsState(ownToken.Get())) != "absent") {
        EXPECT_EQ("deny-only", record.at("admins"));
    }
}

TEST_F(RealChildStart, QuotedPathWithABlankStartsThatProgram) {
    test::MakeDirectory(m_root / L"my apps");
    const std::wstring client = m_root / L"my apps\\fake client.exe";
    test::CopyFileTo(test::ProgramPath(L"fake_client.exe"), client);
    // What an unquoted form of the path would start first.
    test::CopyFileTo(test::ProgramPath(L"fake_client.exe"), m_root / L"my.exe");

    const std::wstring commandLine = L"\"" + client + L"\"";
    ASSERT_NE(RestrictedStart::kNotStarted, StartFromWorkDir(commandLine));

    const auto record = WaitForRecord();
    ASSERT_FALSE(record.empty()) << "the child wrote no record";
    EXPECT_EQ(test::FromUtf8(record.at("module")), client);
    EXPECT_EQ(test::FromUtf8(record.at("commandline")), commandLine);
    EXPECT_EQ(test::FromUtf8(record.at("cwd")), m_root.Path());
}

}  // namespace
