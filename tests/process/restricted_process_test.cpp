// The restricted start and the installer's start against the stand-ins of
// fake_platform.h: each road, each failure on it, and what must hold on all of them.
#include "process/restricted_process.h"
#include "process/update_setup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "fake_platform.h"
#include "tests/fixtures/fixture_support.h"

namespace {

using Calls = std::vector<std::string>;

const char kAdministrators[] = "S-1-5-32-544";
const char kMediumLabel[] = "S-1-16-8192";
// The client may come to the front: the grant names the process just made.
const std::string kClientAllowed = "allow " + std::to_string(fake::kClientProcessId);

std::string Start(const std::string& token, const char* environment = "block",
                  const std::string& commandLine = "..\\Quorl.exe") {
    return "start " + token + " env=" + environment +
           " dir=..\\ desktop=winsta0\\default cmd=" + commandLine;
}

RestrictedStart StartWith(const fake::Script& script, std::wstring commandLine = L"..\\Quorl.exe") {
    fake::Start(script);
    return StartRestrictedProcess(&commandLine[0]);
}

CScopedKernelHandle OpenOwnToken() {
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    return CScopedKernelHandle(token);
}

// Where the call stands among those made, or -1.
long Position(const std::string& call) {
    const Calls& calls = fake::Calls();
    const auto found = std::find(calls.begin(), calls.end(), call);
    return found == calls.end() ? -1 : static_cast<long>(found - calls.begin());
}

bool Made(const std::string& call) {
    return Position(call) >= 0;
}

// What holds on every path: everything acquired was released, the block
// before its token, and no process was ever started under our own token.
void ExpectReleasedAndRestricted() {
    EXPECT_EQ(fake::Unreleased(), Calls{});
    for (const std::string& call : fake::Calls()) {
        EXPECT_NE(call.rfind("start own token", 0), 0u) << call;
    }
}

fake::Script Failing(bool fake::Script::*failure, bool saferFails = false) {
    fake::Script script;
    script.*failure = true;
    script.createLevelFails = script.createLevelFails || saferFails;
    return script;
}

struct Failure {
    const char* name;
    fake::Script script;
    const char* blockToken = "restricted token";  // the first token a start is tried with
};

TEST(StartRestrictedProcess, SaferRoadStartsTheClientAndMakesNoFallback) {
    EXPECT_EQ(RestrictedStart::kSaferLevel, StartWith({}));
    EXPECT_EQ(fake::Calls(), (Calls{std::string("label safer token ") + kMediumLabel,
                                    "block safer token", Start("safer token"), kClientAllowed}));
    ExpectReleasedAndRestricted();
}

TEST(StartRestrictedProcess, FallsBackToARestrictedTokenAfterEachSaferFailure) {
    for (const Failure& failure :
         {Failure{"no level", Failing(&fake::Script::createLevelFails)},
          Failure{"no token", Failing(&fake::Script::computeTokenFails)},
          Failure{"no usable token", Failing(&fake::Script::saferTokenUnusable)},
          Failure{"owner and default DACL refused", Failing(&fake::Script::setDefaultsFails, true)},
          Failure{"token refused", Failing(&fake::Script::saferProcessFails), "safer token"}}) {
        SCOPED_TRACE(failure.name);
        EXPECT_EQ(RestrictedStart::kOwnTokenRestricted, StartWith(failure.script));
        EXPECT_TRUE(Made(std::string("restrict own token deny-only ") + kAdministrators));
        EXPECT_TRUE(Made(std::string("label restricted token ") + kMediumLabel));
        EXPECT_EQ(fake::Calls().end()[-2], Start("restricted token"));
        EXPECT_EQ(fake::Calls().back(), kClientAllowed);
        EXPECT_EQ(
            1, std::count_if(fake::Calls().begin(), fake::Calls().end(),
                             [](const std::string& call) { return call.rfind("block ", 0) == 0; }));
        EXPECT_TRUE(Made(std::string("block ") + failure.blockToken));
        ExpectReleasedAndRestricted();
    }
}

TEST(StartRestrictedProcess, SetsTheUsersOwnerAndDefaultDaclBeforeCreation) {
    StartWith(Failing(&fake::Script::saferTokenUnusable));
    const CScopedKernelHandle own = OpenOwnToken();
    const std::string user = fixture::UserSid(own.Get());
    const std::string fullAccess = ":" + std::to_string(GENERIC_ALL);
    const long created = Position(Start("restricted token"));
    for (const std::string& call :
         {"owner restricted token " + user,
          "dacl restricted token " + user + fullAccess + " S-1-5-18" + fullAccess}) {
        EXPECT_GE(Position(call), 0) << call;
        EXPECT_LT(Position(call), created) << call;
    }
}

TEST(StartRestrictedProcess, StartsNothingWhenTheFallbackFailsToo) {
    for (const Failure& failure :
         {Failure{"own token not opened", Failing(&fake::Script::openTokenFails, true)},
          Failure{"own groups not read", Failing(&fake::Script::readGroupsFails, true)},
          Failure{"token not restricted", Failing(&fake::Script::restrictTokenFails, true)},
          Failure{"every creation refused", Failing(&fake::Script::createProcessFails)}}) {
        SCOPED_TRACE(failure.name);
        EXPECT_EQ(RestrictedStart::kNotStarted, StartWith(failure.script));
        EXPECT_FALSE(Made(kClientAllowed));
        ExpectReleasedAndRestricted();
    }
}

// As UAC's filtered token: every administrative group the token holds, and
// only those; a listed number in another place makes no such group.
TEST(StartRestrictedProcess, MakesEveryAdministrativeGroupOfOurTokenDenyOnly) {
    const std::string denied =
        "S-1-5-32-544 S-1-5-32-547 S-1-5-32-548 S-1-5-32-549 S-1-5-32-550 S-1-5-32-551 "
        "S-1-5-32-553 S-1-5-32-554 S-1-5-32-556 S-1-5-32-569 S-1-5-114 S-1-5-21-7-8-9-498 "
        "S-1-5-21-7-8-9-512 S-1-5-21-7-8-9-516 S-1-5-21-7-8-9-517 S-1-5-21-7-8-9-518 "
        "S-1-5-21-7-8-9-519 S-1-5-21-7-8-9-520 S-1-5-21-7-8-9-521";
    fake::Script script = Failing(&fake::Script::saferTokenUnusable);
    script.groups =
        "S-1-1-0 S-1-5-4 S-1-5-11 S-1-5-113 S-1-5-32-545 S-1-5-32-555 "
        "S-1-5-21-7-8-9-513 S-1-5-21-7-8-512 S-1-5-80-544 S-1-5-5-0-4711 "
        "S-1-16-12288 S-1-15-2-544 " +
        denied;
    EXPECT_EQ(RestrictedStart::kOwnTokenRestricted, StartWith(script));
    EXPECT_TRUE(Made("restrict own token deny-only " + denied)) << fake::Calls()[0];
    ExpectReleasedAndRestricted();
}

TEST(StartRestrictedProcess, StartsWithoutTheLabelWhenItCannotBeSet) {
    for (const Failure& failure : {Failure{"label refused", Failing(&fake::Script::setLabelFails)},
                                   Failure{"no SID", Failing(&fake::Script::allocateSidFails)}}) {
        SCOPED_TRACE(failure.name);
        EXPECT_EQ(RestrictedStart::kSaferLevel, StartWith(failure.script));
        EXPECT_TRUE(Made(Start("safer token")));
        ExpectReleasedAndRestricted();
    }
}

TEST(StartRestrictedProcess, FallsBackToOurEnvironmentWithoutAnEnvironmentBlock) {
    for (const Failure& failure : {Failure{"no block", Failing(&fake::Script::createBlockFails)},
                                   Failure{"no userenv.dll", Failing(&fake::Script::noUserEnv)}}) {
        SCOPED_TRACE(failure.name);
        EXPECT_EQ(RestrictedStart::kSaferLevel, StartWith(failure.script));
        EXPECT_TRUE(Made(Start("safer token", "ours")));
        ExpectReleasedAndRestricted();
    }
}

TEST(StartRestrictedProcess, PassesTheCommandLineUnchanged) {
    StartWith(Failing(&fake::Script::createProcessFails), L"\"..\\my client.exe\"");
    EXPECT_TRUE(Made(Start("safer token", "block", "\"..\\my client.exe\"")));
    EXPECT_TRUE(Made(Start("restricted token", "block", "\"..\\my client.exe\"")));
}

// The installer's elevation prompt comes from a process not yet known, so any
// process may come to the front, before the shell starts the installer; a
// cut download must not bring up a box of the shell's at every start.
// A wait that fails has not seen the installer end: it stays pending.
TEST(RunUpdateSetupAndWait, AllowsThePromptToTheFrontAndAsksTheShellForNoBox) {
    for (const bool waitFails : {false, true}) {
        fake::Script script;
        script.installerWaitFails = waitFails;
        fake::Start(script);
        EXPECT_EQ(!waitFails, RunUpdateSetupAndWait(L"..\\update\\setup.exe"));
        EXPECT_EQ(fake::Calls(), (Calls{"allow any", "shell ..\\update\\setup.exe without a box"}));
        EXPECT_EQ(fake::Unreleased(), Calls{});
    }
}

TEST(SetMediumIntegrity, ReportsWhetherTheLabelWasSet) {
    const CScopedKernelHandle own = OpenOwnToken();
    for (const Failure& failure :
         {Failure{"set", {}}, Failure{"label refused", Failing(&fake::Script::setLabelFails)},
          Failure{"no SID", Failing(&fake::Script::allocateSidFails)}}) {
        SCOPED_TRACE(failure.name);
        fake::Start(failure.script);
        EXPECT_EQ(std::string(failure.name) == "set", SetMediumIntegrity(own.Get()));
        EXPECT_EQ(fake::Unreleased(), Calls{});
    }
}

}  // namespace
