#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/scenario/scenario_support.h"

namespace {

using Lines = std::vector<std::string>;

const char kClientMissingText[] = u8"找不到..\\Quorl.exe, 请重新安装!";
const char kRequiredFilesText[] =
    u8"必要的文件没有找到，可能被安全软件删除！\n请重新安装，并在安全软件中添加信任!";
const char kErrorCaption[] = u8"错误";
const wchar_t kErrorCaptionW[] = L"错误";

// Three arguments: the loader at once, in the process the test started.
const wchar_t kLoaderArguments[] = L"1 0 loader";

// Wine's Safer token is a stub that no process can be created with; there the
// loader starts the client under its own token, restricted.
Lines ClientStartLines() {
    Lines lines = {"check Quorl.exe OK exec it"};
    if (test::RunningUnderWine()) {
        lines.push_back("exec Quorl.exe with a restricted token");
    }
    return lines;
}

Lines Concat(Lines first, const Lines& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Lines LauncherLines(const test::CInstallation& install) {
    return {install.DirectoryLine(), "start Quorl Launch...", "build Quorl Loader...",
            "exit Quorl Launch"};
}

// A launcher that started no loader.
Lines FailedLauncherLines(const test::CInstallation& install) {
    return {install.DirectoryLine(), "start Quorl Launch...", "build Quorl Loader...",
            "build Quorl Loader failed!", "exit Quorl Launch"};
}

Lines LoaderLines(const test::CInstallation& install, const Lines& updateLines,
                  const Lines& clientLines = ClientStartLines()) {
    return Concat(Concat({install.DirectoryLine(), "start Quorl Loader..."}, updateLines),
                  Concat(clientLines, {"exit Quorl Loader"}));
}

const Lines kNoUpdate = {"setup.exe not found, check Quorl.exe..."};
const Lines kArchivedLines = {"found setup.exe OK, update and waiting...",
                              "setup.exe exit, backup it setup.exe -> setup.exe.bak ..."};

TEST(LauncherRoad, CopiesItselfAndItsLoaderStartsTheClient) {
    test::CInstallation install;
    const test::ProcessResult result = install.RunLauncher(L"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    ASSERT_TRUE(install.WaitForLoader());

    EXPECT_EQ(LauncherLines(install), test::Messages(result.output));
    EXPECT_EQ(LoaderLines(install, kNoUpdate),
              test::Without(install.LogMessages(), LauncherLines(install)));
    EXPECT_EQ(test::ReadFileBytes(install.LauncherPath()),
              test::ReadFileBytes(install.App(L"QuorlLoader.exe")));
    test::ExpectClientRanRestricted(install);
}

TEST(LauncherRoad, ReplacesALoaderLeftFromAnEarlierStart) {
    test::CInstallation install;
    test::WriteFileBytes(install.App(L"QuorlLoader.exe"), "stale");
    ASSERT_TRUE(install.RunLauncher(L"").finished);
    ASSERT_TRUE(install.WaitForLoader());
    EXPECT_EQ(test::ReadFileBytes(install.LauncherPath()),
              test::ReadFileBytes(install.App(L"QuorlLoader.exe")));
}

TEST(LauncherRoad, UnderAnotherNameStartsNoLoaderFromTheEmptyCopy) {
    test::CInstallation install;
    install.RenameLauncher(L"QuorlStart.exe");
    const test::ProcessResult result = install.RunLauncher(L"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(test::ProcessIdsNamed(L"QuorlLoader.exe").empty());
    EXPECT_EQ(FailedLauncherLines(install), install.LogMessages());
    EXPECT_EQ("", test::ReadFileBytes(install.App(L"QuorlLoader.exe")));
}

TEST(LauncherRoad, StartsNoLoaderWhileAnEarlierOneStillRunsFromTheCopy) {
    test::CInstallation install;
    install.AddPendingInstaller();
    // The earlier loader waits for an installer that runs until the test ends it.
    ::SetEnvironmentVariableW(L"QUORL_SETUP_MS", L"60000");
    const test::ProcessResult first = install.RunLauncher(L"");
    ::SetEnvironmentVariableW(L"QUORL_SETUP_MS", nullptr);
    ASSERT_TRUE(first.finished);
    ASSERT_TRUE(install.WaitForLogMessage("found setup.exe OK, update and waiting..."));

    const test::ProcessResult second = install.RunLauncher(L"");
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(0u, second.exitCode);
    EXPECT_EQ(FailedLauncherLines(install), test::Messages(second.output));
    EXPECT_EQ(test::ReadFileBytes(install.LauncherPath()),
              test::ReadFileBytes(install.App(L"QuorlLoader.exe")));
    // The loader logs that it waits before the shell has started the installer.
    test::WaitUntil([&] { return test::FileExists(install.InstallerRecordPath()); }, 30000);
    test::WaitForProcessesNamed(L"setup.exe", 0);
    ASSERT_TRUE(install.WaitForLoader());
    // Two launchers and the earlier loader: no second loader ran from the file.
    EXPECT_EQ(3u, test::CountOf(install.LogMessages(), install.DirectoryLine()));
}

const wchar_t kLoaderCopy[] = L"app\\QuorlLoader.exe";
const wchar_t kInstaller[] = L"update\\setup.exe";
const Lines kPending = {"found setup.exe OK, update and waiting...",
                        "start setup.exe failed, keep it pending"};
const Lines kLeft =
    Concat(kArchivedLines, {"backup setup.exe failed!", "delete setup.exe failed!"});

// A scanner, an indexer or a backup agent holding a file of the road open,
// for a moment or for far longer than the launcher waits: the launcher's loader
// copy, or the loader's client or installer.
struct HoldCase {
    const char* name;
    const wchar_t* held;   // in the installation's root
    const wchar_t* share;  // holder.exe's --file: none, read or write
    DWORD holdMs;
    Lines updateLines;  // the loader's
    bool started;       // the loader by the launcher, the client by the loader
};

void PrintTo(const HoldCase& holdCase, std::ostream* out) {
    *out << holdCase.name;
}

class HeldFile : public ::testing::TestWithParam<HoldCase> {};

TEST_P(HeldFile, DelaysTheStepOrFailsItAsToday) {
    const HoldCase& hold = GetParam();
    const bool launcher = hold.held == std::wstring(kLoaderCopy);
    test::CInstallation install;
    if (hold.held == std::wstring(kInstaller)) {
        install.AddPendingInstaller();
    }
    test::WriteFileBytes(install.App(L"QuorlLoader.exe"), "stale");
    test::CHolder holder(install.InRoot(hold.held), std::wstring(L"--file ") + hold.share,
                         hold.holdMs);
    ASSERT_TRUE(holder.WaitUntilHeld());
    // The wait and a margin, far short of the long holds.
    const test::ProcessResult result =
        install.RunLauncher(launcher ? L"" : kLoaderArguments, L"", 12000);
    ASSERT_TRUE(result.finished) << "waited out the hold, or on a box of the shell's";
    holder.Quit();

    const Lines clientLines = !hold.started
                                  ? Lines{"check Quorl.exe OK exec it", "exec Quorl.exe failed!"}
                                  : ClientStartLines();
    EXPECT_EQ(!launcher      ? LoaderLines(install, hold.updateLines, clientLines)
              : hold.started ? LauncherLines(install)
                             : FailedLauncherLines(install),
              test::Messages(result.output));
    if (hold.started) {
        test::ExpectClientRanRestricted(install);
    }
    // Nothing lost: the installer ran and is archived, or it is still there.
    if (hold.held == std::wstring(kInstaller)) {
        const bool archived = hold.updateLines == kArchivedLines;
        EXPECT_EQ(archived, test::FileExists(install.App(L"setup.exe.bak")));
        EXPECT_NE(archived, test::FileExists(install.InstallerPath()));
        EXPECT_NE(hold.updateLines == kPending, test::FileExists(install.InstallerRecordPath()));
    }
}

// Sharing only writing, the old copy lets the copy be made but not started;
// sharing reading, the installer runs and its archive meets the hold.
INSTANTIATE_TEST_SUITE_P(
    Holds, HeldFile,
    ::testing::Values(HoldCase{"OldLoaderCopy", kLoaderCopy, L"none", 3000, kNoUpdate, true},
                      HoldCase{"OldLoaderCopyLong", kLoaderCopy, L"none", 20000, kNoUpdate, false},
                      HoldCase{"CopyToStart", kLoaderCopy, L"write", 3000, kNoUpdate, true},
                      HoldCase{"CopyToStartLong", kLoaderCopy, L"write", 20000, kNoUpdate, false},
                      HoldCase{"Client", L"Quorl.exe", L"none", 3000, kNoUpdate, true},
                      HoldCase{"ClientLong", L"Quorl.exe", L"none", 20000, kNoUpdate, false},
                      HoldCase{"Installer", kInstaller, L"none", 3000, kArchivedLines, true},
                      HoldCase{"InstallerLong", kInstaller, L"none", 20000, kPending, true},
                      HoldCase{"RanInstaller", kInstaller, L"read", 3000, kArchivedLines, true},
                      HoldCase{"RanInstallerLong", kInstaller, L"read", 20000, kLeft, true}),
    [](const ::testing::TestParamInfo<HoldCase>& param) { return param.param.name; });

TEST(LoaderRoad, ThreeArgumentsRunTheLoaderAtOnceWithoutACopy) {
    test::CInstallation install;
    const test::ProcessResult result = install.RunLauncher(L"x 0 y");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_FALSE(test::FileExists(install.App(L"QuorlLoader.exe")));
    EXPECT_EQ(LoaderLines(install, kNoUpdate), install.LogMessages());
    EXPECT_EQ(install.LogText(), result.output);
}

TEST(LoaderRoad, WaitsTheDelayOfArgumentTwo) {
    test::CInstallation install;
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(install.RunLauncher(L"1 1500 loader").finished);
    EXPECT_GE(::GetTickCount64() - start, 1500u);
    EXPECT_EQ(LoaderLines(install, kNoUpdate), install.LogMessages());
}

TEST(LoaderRoad, NegativeDelayDoesNotHang) {
    test::CInstallation install;
    const test::ProcessResult result = install.RunLauncher(L"1 -1 loader", L"", 10000);
    ASSERT_TRUE(result.finished) << "the loader waited on its delay";
    EXPECT_EQ(LoaderLines(install, kNoUpdate), install.LogMessages());
}

// A loader that finds another one working ends with one line and touches nothing.
void ExpectLoaderEndsAtOnce(const test::CInstallation& install) {
    const test::ProcessResult result = install.RunLauncher(kLoaderArguments);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ((Lines{install.DirectoryLine(), "Quorl loader already runing! exit"}),
              install.LogMessages());
}

TEST(LoaderRoad, SecondLoaderEndsWhileTheFirstHoldsTheLoaderMutex) {
    test::CInstallation install;
    const CScopedKernelHandle firstLoader(::CreateMutexW(nullptr, FALSE, L"QuorlLoader.exe"));
    ASSERT_TRUE(firstLoader.IsValid());
    ExpectLoaderEndsAtOnce(install);
}

TEST(LoaderRoad, SecondLoaderEndsWhenTheFirstDeniesItTheLoaderMutex) {
    test::CInstallation install;
    // As a loader started with more rights than this one would.
    test::CHolder firstLoader(L"QuorlLoader.exe", L"--deny");
    ASSERT_TRUE(firstLoader.WaitUntilHeld());
    ExpectLoaderEndsAtOnce(install);
    EXPECT_TRUE(firstLoader.Quit().finished);
}

// The loader's command line, read while it waits on the client-missing box,
// which is then closed. Empty when no single loader could be found.
std::wstring LoaderCommandLine(const std::wstring& launcherArguments) {
    test::CInstallation install;
    ::DeleteFileW(install.InRoot(L"Quorl.exe").c_str());
    if (!install.RunLauncher(launcherArguments).finished) {
        return std::wstring();
    }
    const std::vector<DWORD> loaders = test::ProcessIdsNamed(L"QuorlLoader.exe");
    const std::wstring commandLine = loaders.size() == 1 ? test::CommandLineOf(loaders[0]) : L"";
    test::CBoxWatcher watcher(kErrorCaptionW, install.InRoot(L"box.txt"));
    EXPECT_TRUE(watcher.Closed().closed);
    EXPECT_TRUE(install.WaitForLoader());
    return commandLine;
}

struct ArgumentCase {
    const char* name;
    const wchar_t* launcherArguments;
    std::vector<std::wstring> loaderArguments;
};

void PrintTo(const ArgumentCase& argumentCase, std::ostream* out) {
    *out << argumentCase.name;
}

class ArgumentsReachTheLoader : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentsReachTheLoader, Whole) {
    const std::wstring commandLine = LoaderCommandLine(GetParam().launcherArguments);
    std::vector<std::wstring> arguments = test::SplitCommandLine(commandLine);
    ASSERT_FALSE(arguments.empty()) << test::ToUtf8(commandLine);
    arguments.erase(arguments.begin());
    EXPECT_EQ(GetParam().loaderArguments, arguments) << test::ToUtf8(commandLine);
}

INSTANTIATE_TEST_SUITE_P(
    LauncherArguments, ArgumentsReachTheLoader,
    ::testing::Values(ArgumentCase{"None", L"", {L"1", L"0", L"loader"}},
                      ArgumentCase{"One", L"first", {L"first", L"0", L"loader"}},
                      ArgumentCase{"Two", L"first 40", {L"first", L"40", L"loader"}},
                      ArgumentCase{
                          "BlankAndEmpty", L"\"two words\" \"\"", {L"two words", L"", L"loader"}},
                      ArgumentCase{"EmptyFirst", L"\"\" 0", {L"", L"0", L"loader"}},
                      ArgumentCase{"QuotesAndTrailingBackslash",
                                   L"\"say \\\"hi\\\"\" \"C:\\dir\\\\\"",
                                   {L"say \"hi\"", L"C:\\dir\\", L"loader"}}),
    [](const ::testing::TestParamInfo<ArgumentCase>& param) { return param.param.name; });

TEST(LauncherRoad, PassesTheElevenCharacterDefaultParameters) {
    const std::wstring commandLine = LoaderCommandLine(L"");
    ASSERT_GT(commandLine.size(), 12u);
    EXPECT_EQ(L"\" 1 0  loader", commandLine.substr(commandLine.size() - 13))
        << test::ToUtf8(commandLine);
}

class UpdateRoad : public ::testing::Test {
protected:
    void SetUp() override { m_install.AddPendingInstaller(); }

    Lines RunLoader() {
        const test::ProcessResult result = m_install.RunLauncher(kLoaderArguments);
        EXPECT_TRUE(result.finished);
        EXPECT_EQ(0u, result.exitCode);
        return m_install.LogMessages();
    }

    std::string InstallerBytes() const {
        return test::ReadFileBytes(test::ProgramPath(L"fake_setup.exe"));
    }

    test::CInstallation m_install;
};

TEST_F(UpdateRoad, ClientRunningLeavesTheInstallerPending) {
    const CScopedKernelHandle client(::CreateMutexW(nullptr, FALSE, L"__Quorl_Mutex__50051"));
    ASSERT_TRUE(client.IsValid());
    EXPECT_EQ(
        LoaderLines(m_install, {"found setup.exe OK, but QUORL already runing, abort this update"}),
        RunLoader());
    EXPECT_EQ(InstallerBytes(), test::ReadFileBytes(m_install.InstallerPath()));
    EXPECT_FALSE(test::FileExists(m_install.InstallerRecordPath()));
    EXPECT_FALSE(test::FileExists(m_install.App(L"setup.exe.bak")));
}

TEST_F(UpdateRoad, InstallerRunsOnceAndIsArchived) {
    EXPECT_EQ(LoaderLines(m_install, {"found setup.exe OK, update and waiting...",
                                      "setup.exe exit, backup it setup.exe -> setup.exe.bak ..."}),
              RunLoader());
    const auto record = test::ReadRecord(m_install.InstallerRecordPath());
    ASSERT_EQ(1u, record.count("end")) << "the loader went on before the installer ended";
    EXPECT_EQ("", record.at("parameters"));
    EXPECT_EQ(test::ToUtf8(m_install.AppDir()), record.at("cwd"));
    const auto client = test::ExpectClientRanRestricted(m_install);
    ASSERT_EQ(1u, client.count("started"));
    EXPECT_GT(std::stoull(client.at("started")), std::stoull(record.at("end")));
    EXPECT_FALSE(test::FileExists(m_install.InstallerPath()));
    EXPECT_EQ(InstallerBytes(), test::ReadFileBytes(m_install.App(L"setup.exe.bak")));
}

TEST_F(UpdateRoad, OlderBackupIsReplaced) {
    test::WriteFileBytes(m_install.App(L"setup.exe.bak"), "previous update");
    EXPECT_EQ(LoaderLines(m_install, {"found setup.exe OK, update and waiting...",
                                      "setup.exe exit, backup it setup.exe -> setup.exe.bak ...",
                                      "remove previous update pack!"}),
              RunLoader());
    EXPECT_FALSE(test::FileExists(m_install.InstallerPath()));
    EXPECT_EQ(InstallerBytes(), test::ReadFileBytes(m_install.App(L"setup.exe.bak")));
}

TEST_F(UpdateRoad, InstallerRunsOnceWhenTheOlderBackupCannotBeRemoved) {
    const std::wstring backup = m_install.App(L"setup.exe.bak");
    test::WriteFileBytes(backup, "previous update");
    ::SetFileAttributesW(backup.c_str(), FILE_ATTRIBUTE_READONLY);
    RunLoader();
    const Lines twoStarts = RunLoader();
    ::SetFileAttributesW(backup.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(
        Concat(LoaderLines(m_install, {"found setup.exe OK, update and waiting...",
                                       "setup.exe exit, backup it setup.exe -> setup.exe.bak ...",
                                       "remove previous update pack!", "backup setup.exe failed!"}),
               LoaderLines(m_install, kNoUpdate)),
        twoStarts);
    EXPECT_FALSE(test::FileExists(m_install.InstallerPath()));
    EXPECT_EQ("previous update", test::ReadFileBytes(backup));
}

TEST_F(UpdateRoad, InstallerThatCannotStartStaysPending) {
    test::WriteFileBytes(m_install.InstallerPath(), "not a program");
    // The shell reports the failed start in a box of its own.
    test::CBoxWatcher watcher(test::RunningUnderWine() ? L"Error" : L"*",
                              m_install.InRoot(L"box.txt"));
    EXPECT_EQ(LoaderLines(m_install, {"found setup.exe OK, update and waiting...",
                                      "start setup.exe failed, keep it pending"}),
              RunLoader());
    EXPECT_TRUE(watcher.Closed().closed);
    EXPECT_EQ("not a program", test::ReadFileBytes(m_install.InstallerPath()));
    EXPECT_FALSE(test::FileExists(m_install.App(L"setup.exe.bak")));
}

struct SignedUpdateCase {
    const char* name;
    const wchar_t* installer;
    bool runs;
};

void PrintTo(const SignedUpdateCase& updateCase, std::ostream* out) {
    *out << updateCase.name;
}

class SignedLauncherUpdate : public ::testing::TestWithParam<SignedUpdateCase> {};

TEST_P(SignedLauncherUpdate, RunsOnlyAnInstallerSignedUnderItsSubject) {
    if (!test::FileExists(test::ProgramPath(test::kSignedLauncher))) {
        GTEST_SKIP() << test::kNoSignedPrograms;
    }
    const SignedUpdateCase& update = GetParam();
    test::CInstallation install(L"app", test::kSignedLauncher);
    install.AddPendingInstaller(update.installer);
    ASSERT_TRUE(install.RunLauncher(kLoaderArguments).finished);

    EXPECT_EQ(
        LoaderLines(install, update.runs
                                 ? Lines{"found setup.exe OK, update and waiting...",
                                         "setup.exe exit, backup it setup.exe -> setup.exe.bak ..."}
                                 : Lines{"setup.exe signature check failed, keep it pending"}),
        install.LogMessages());
    EXPECT_EQ(update.runs, test::FileExists(install.InstallerRecordPath()));
    // Archived once it ran, otherwise still pending as it was.
    const std::wstring kept = update.runs ? install.App(L"setup.exe.bak") : install.InstallerPath();
    EXPECT_EQ(test::ReadFileBytes(test::ProgramPath(update.installer)), test::ReadFileBytes(kept));
    EXPECT_NE(update.runs, test::FileExists(install.InstallerPath()));
    test::ExpectClientRanRestricted(install);
}

INSTANTIATE_TEST_SUITE_P(
    Installers, SignedLauncherUpdate,
    ::testing::Values(SignedUpdateCase{"SameCertificate", L"signed\\setup-same.exe", true},
                      SignedUpdateCase{"RenewedCertificate", L"signed\\setup-renewed.exe", true},
                      SignedUpdateCase{"SameSubjectSameCA", L"signed\\setup-second.exe", true},
                      SignedUpdateCase{"OtherSubjectSameCA", L"signed\\setup-colleague.exe", false},
                      SignedUpdateCase{"Unsigned", L"fake_setup.exe", false},
                      SignedUpdateCase{"OtherSubject", L"signed\\setup-other.exe", false},
                      SignedUpdateCase{"ByteChangedAfterSigning", L"signed\\setup-changed.exe",
                                       false}),
    [](const ::testing::TestParamInfo<SignedUpdateCase>& param) { return param.param.name; });

// Otherwise another program could swap the file between the check and the run.
TEST(SignedLauncherUpdateRun, NobodyCanRenameTheInstallerWhileItRuns) {
    if (!test::FileExists(test::ProgramPath(test::kSignedLauncher))) {
        GTEST_SKIP() << test::kNoSignedPrograms;
    }
    test::CInstallation install(L"app", test::kSignedLauncher);
    install.AddPendingInstaller(L"signed\\setup-same.exe");
    test::CChildProcess loader(install.LauncherCommandLine(kLoaderArguments), install.AppDir());
    ASSERT_TRUE(
        test::WaitUntil([&] { return test::FileExists(install.InstallerRecordPath()); }, 20000))
        << "the installer never ran";

    EXPECT_FALSE(::MoveFileW(install.InstallerPath().c_str(),
                             install.InRoot(L"update\\swapped.exe").c_str()));
    EXPECT_EQ(0u, test::ReadRecord(install.InstallerRecordPath()).count("end"))
        << "the installer had ended before the test tried";
    EXPECT_TRUE(loader.Wait(30000).finished);
}

class ClientMissingRoad : public ::testing::Test {
protected:
    void SetUp() override { ::DeleteFileW(m_install.InRoot(L"Quorl.exe").c_str()); }

    // Runs the loader, expecting the client-missing box, which it closes.
    void ExpectClientMissingBox() {
        test::CBoxWatcher watcher(kErrorCaptionW, m_install.InRoot(L"box.txt"));
        const test::ProcessResult result = m_install.RunLauncher(kLoaderArguments);
        const test::Box box = watcher.Closed();
        ASSERT_TRUE(box.closed) << "no box appeared";
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ(kErrorCaption, box.caption);
        EXPECT_EQ(kClientMissingText, box.text);
        EXPECT_EQ((Lines{m_install.DirectoryLine(), "start Quorl Loader...", kNoUpdate[0],
                         "Quorl.exe not found!!!", "exit Quorl Loader"}),
                  m_install.LogMessages());
    }

    test::CInstallation m_install;
};

TEST_F(ClientMissingRoad, NoClientShowsTheClientMissingBox) {
    ExpectClientMissingBox();
}

TEST_F(ClientMissingRoad, MatchingDirectoryIsNotAClient) {
    test::MakeDirectory(m_install.InRoot(L"quorl.exe"));
    ExpectClientMissingBox();
}

TEST(ClientRoad, ClientNameWithABlankDoesNotStartAPlantedProgram) {
    test::CInstallation install;
    ::DeleteFileW(install.InRoot(L"Quorl.exe").c_str());
    test::CopyFileTo(test::ProgramPath(L"fake_client.exe"), install.InRoot(L"My quorl.exe"));
    test::CopyFileTo(test::ProgramPath(L"fake_client.exe"), install.InRoot(L"My.exe"));
    ASSERT_TRUE(install.RunLauncher(kLoaderArguments).finished);
    EXPECT_EQ(LoaderLines(install, kNoUpdate), install.LogMessages());
    // Both programs write the same record beside themselves: its module names the one that ran.
    test::ExpectClientRanRestricted(install, L"My quorl.exe");
}

TEST(ClientRoad, StartsQuorlExeRatherThanTheUninstallerOrAHelperBesideIt) {
    test::CInstallation install;
    for (const wchar_t* name : {L"Quorl Uninstall.exe", L"Quorl-Helper.exe"}) {
        test::CopyFileTo(test::ProgramPath(L"fake_client.exe"), install.InRoot(name));
    }
    ASSERT_TRUE(install.RunLauncher(kLoaderArguments).finished);
    EXPECT_EQ(LoaderLines(install, kNoUpdate), install.LogMessages());

    // All three write the same record beside themselves: its module names the one that ran.
    test::ExpectClientRanRestricted(install);
}

class RequiredFilesRoad : public ::testing::Test {
protected:
    // Runs the launcher, expecting the required-files box, which it closes.
    void ExpectRequiredFilesBox(const Lines& missingLines) {
        test::CBoxWatcher watcher(kErrorCaptionW, m_install.InRoot(L"box.txt"));
        const test::ProcessResult result = m_install.RunLauncher(L"");
        const test::Box box = watcher.Closed();
        ASSERT_TRUE(box.closed) << "no box appeared";
        // The launcher ends right after one box: a second would keep it waiting.
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_EQ(kErrorCaption, box.caption);
        EXPECT_EQ(kRequiredFilesText, box.text);
        EXPECT_EQ(Concat({m_install.DirectoryLine()}, missingLines), m_install.LogMessages());
        EXPECT_FALSE(test::FileExists(m_install.App(L"QuorlLoader.exe")));
    }

    test::CInstallation m_install;
};

TEST_F(RequiredFilesRoad, TwoMissingFilesAreLoggedInOrderUnderOneBox) {
    ::DeleteFileW(m_install.App(L"ovank.dll").c_str());
    ::DeleteFileW(m_install.App(L"sqlite3.dll").c_str());
    ExpectRequiredFilesBox({"sqlite3.dll not found", "ovank.dll not found"});
}

TEST_F(RequiredFilesRoad, AllEightMissingAreLoggedInTableOrder) {
    Lines missing;
    for (const wchar_t* name : test::kRequiredFiles) {
        ::DeleteFileW(m_install.App(name).c_str());
        missing.push_back(test::ToUtf8(name) + " not found");
    }
    ExpectRequiredFilesBox(missing);
}

TEST(RequiredFiles, DirectoryNamedLikeARequiredFileCountsAsPresent) {
    test::CInstallation install;
    ::DeleteFileW(install.App(L"ovank.dll").c_str());
    test::MakeDirectory(install.App(L"ovank.dll"));
    const test::ProcessResult result = install.RunLauncher(kLoaderArguments);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(LoaderLines(install, kNoUpdate), install.LogMessages());
}

TEST(ConcurrentLaunchers, TakeTurnsRewritingTheLoader) {
    test::CInstallation install;
    test::WriteFileBytes(install.App(L"QuorlLoader.exe"), "stale");
    // The test plays a launcher that is still writing the loader copy.
    const CScopedKernelHandle otherLauncher(::CreateMutexW(nullptr, TRUE, L"QuorlLaunch.exe"));
    ASSERT_TRUE(otherLauncher.IsValid());
    test::CChildProcess launcher(install.LauncherCommandLine(L""), install.AppDir());
    ASSERT_TRUE(launcher.Started());
    // From its last line before the lock, a launcher that took no turn would
    // be through the copy and ended within moments.
    ASSERT_TRUE(install.WaitForLogMessage("build Quorl Loader..."));
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(launcher.Handle(), 200));
    EXPECT_EQ("stale", test::ReadFileBytes(install.App(L"QuorlLoader.exe")));

    ::ReleaseMutex(otherLauncher.Get());
    const test::ProcessResult result = launcher.Wait(30000);
    ASSERT_TRUE(result.finished);
    ASSERT_TRUE(install.WaitForLoader());
    EXPECT_EQ(test::ReadFileBytes(install.LauncherPath()),
              test::ReadFileBytes(install.App(L"QuorlLoader.exe")));
    EXPECT_EQ(LauncherLines(install), test::Messages(result.output));
}

TEST(ConcurrentLaunchers, GiveUpWithALogLineWhenTheBuildLockIsNeverFreed) {
    test::CInstallation install;
    test::WriteFileBytes(install.App(L"QuorlLoader.exe"), "stale");
    const CScopedKernelHandle otherLauncher(::CreateMutexW(nullptr, TRUE, L"QuorlLaunch.exe"));
    ASSERT_TRUE(otherLauncher.IsValid());
    // The launcher waits 30 s for its turn.
    const test::ProcessResult result = install.RunLauncher(L"", L"", 60000);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(FailedLauncherLines(install), install.LogMessages());
    EXPECT_EQ("stale", test::ReadFileBytes(install.App(L"QuorlLoader.exe")));
}

TEST(ConcurrentLaunchers, BuildLockOfAKilledLauncherIsTakenOver) {
    test::CInstallation install;
    test::CHolder killedLauncher(L"QuorlLaunch.exe", L"");
    ASSERT_TRUE(killedLauncher.WaitUntilHeld());
    // Our own handle keeps the mutex in being past its holder, abandoned rather than gone.
    const CScopedKernelHandle kept(::OpenMutexW(SYNCHRONIZE, FALSE, L"QuorlLaunch.exe"));
    ASSERT_TRUE(kept.IsValid());
    killedLauncher.Kill();
    const test::ProcessResult result = install.RunLauncher(L"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(LauncherLines(install), test::Messages(result.output));
    ASSERT_TRUE(install.WaitForLoader());
    EXPECT_EQ(test::ReadFileBytes(install.LauncherPath()),
              test::ReadFileBytes(install.App(L"QuorlLoader.exe")));
}

TEST(ConcurrentLaunchers, FiveAtOnceLoseNoLineAndRunTheInstallerOnce) {
    constexpr int kLaunchers = 5;
    test::CInstallation install;
    install.AddPendingInstaller();
    std::vector<std::unique_ptr<test::CChildProcess>> launchers;
    for (int i = 0; i < kLaunchers; ++i) {
        launchers.push_back(std::make_unique<test::CChildProcess>(install.LauncherCommandLine(L""),
                                                                  install.AppDir()));
        ASSERT_TRUE(launchers.back()->Started());
    }
    for (auto& launcher : launchers) {
        const test::ProcessResult result = launcher->Wait(60000);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(0u, result.exitCode);
    }
    ASSERT_TRUE(install.WaitForLoader(60000));

    const Lines messages = install.LogMessages();
    const std::set<std::string> known = {install.DirectoryLine(),
                                         "start Quorl Launch...",
                                         "build Quorl Loader...",
                                         "build Quorl Loader failed!",
                                         "exit Quorl Launch",
                                         "start Quorl Loader...",
                                         "Quorl loader already runing! exit",
                                         "found setup.exe OK, update and waiting...",
                                         "setup.exe exit, backup it setup.exe -> setup.exe.bak ...",
                                         "setup.exe not found, check Quorl.exe...",
                                         "check Quorl.exe OK exec it",
                                         "exec Quorl.exe with a restricted token",
                                         "exit Quorl Loader"};
    for (const std::string& message : messages) {
        EXPECT_EQ(1u, known.count(message)) << "torn or unknown line: " << message;
    }
    EXPECT_EQ(kLaunchers, test::CountOf(messages, "exit Quorl Launch"));
    // A launcher that found a running loader holding the copy started none;
    // every loader that was started ran: none came from a half-written copy.
    const size_t loaders = kLaunchers - test::CountOf(messages, "build Quorl Loader failed!");
    EXPECT_LE(1u, loaders);
    EXPECT_EQ(kLaunchers + loaders, test::CountOf(messages, install.DirectoryLine()));
    EXPECT_EQ(loaders, test::CountOf(messages, "start Quorl Loader...") +
                           test::CountOf(messages, "Quorl loader already runing! exit"));
    EXPECT_EQ(1u, test::CountOf(messages, "found setup.exe OK, update and waiting..."));
    EXPECT_EQ(test::ReadFileBytes(install.LauncherPath()),
              test::ReadFileBytes(install.App(L"QuorlLoader.exe")));
    EXPECT_FALSE(test::FileExists(install.InstallerPath()));
    EXPECT_EQ(test::ReadFileBytes(test::ProgramPath(L"fake_setup.exe")),
              test::ReadFileBytes(install.App(L"setup.exe.bak")));
}

}  // namespace
