#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/scenario/scenario_support.h"

namespace {

using Lines = std::vector<std::string>;
using test::kLoaderArguments;

const char kClientMissingText[] = u8"找不到..\\Quorl.exe, 请重新安装!";
const char kRequiredFilesText[] =
    u8"必要的文件没有找到，可能被安全软件删除！\n请重新安装，并在安全软件中添加信任!";
const char kErrorCaption[] = u8"错误";
const wchar_t kErrorCaptionW[] = L"错误";

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

void ExpectErrorBox(test::CBoxWatcher& watcher, const char* text) {
    const test::Box box = watcher.Closed();
    EXPECT_TRUE(box.closed) << "no box appeared";
    EXPECT_EQ(kErrorCaption, box.caption);
    EXPECT_EQ(text, box.text);
    EXPECT_TRUE(box.topmost) << "a box that can open behind other windows";
}

// Up to two arguments run the launcher, which copies itself and starts the
// copy with its own first two arguments; three or more, whatever their text,
// run the loader at once, in the process the test started, after the delay of
// argument two.
struct StartCase {
    const char* name;
    const wchar_t* arguments;
    std::vector<std::wstring> loaderArguments;  // none: these run the loader
    DWORD delayMs = 0;
    const wchar_t* commandLineEnd = L"";  // of the loader's
    // Printed as its name, in the name CTest gives the test and in failures.
    friend void PrintTo(const StartCase& row, std::ostream* out) { *out << row.name; }
};

class StartByArguments : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartByArguments, RunTheLauncherOrTheLoader) {
    const StartCase& start = GetParam();
    test::CInstallation install;
    // Left from an earlier start: the launcher replaces it, the loader leaves it.
    test::WriteFileBytes(install.App(L"QuorlLoader.exe"), "stale");
    if (!start.loaderArguments.empty()) {
        // The launcher's loader then waits on a box while its command line is read.
        ::DeleteFileW(install.InRoot(L"Quorl.exe").c_str());
    }
    const ULONGLONG before = ::GetTickCount64();
    const test::ProcessResult result = install.RunLauncher(start.arguments, L"", 10000);
    ASSERT_TRUE(result.finished) << "the loader waited on its delay";
    EXPECT_GE(::GetTickCount64() - before, start.delayMs);
    EXPECT_EQ(0u, result.exitCode);
    if (start.loaderArguments.empty()) {
        EXPECT_EQ(LoaderLines(install, kNoUpdate), install.LogMessages());
        EXPECT_EQ(install.LogText(), result.output);
        EXPECT_EQ("stale", install.LoaderCopy());
        test::ExpectClientRanRestricted(install);
        return;
    }
    EXPECT_EQ(LauncherLines(install), test::Messages(result.output));
    const std::vector<DWORD> loaders = test::ProcessIdsNamed(L"QuorlLoader.exe");
    const std::wstring commandLine = loaders.size() == 1 ? test::CommandLineOf(loaders[0]) : L"";
    test::CBoxWatcher watcher(kErrorCaptionW, install.InRoot(L"box.txt"));
    ExpectErrorBox(watcher, kClientMissingText);
    ASSERT_TRUE(install.WaitForLoader());
    EXPECT_EQ(LoaderLines(install, kNoUpdate, {"Quorl.exe not found!!!"}),
              test::Without(install.LogMessages(), LauncherLines(install)));
    EXPECT_TRUE(install.LoaderCopyIsWhole());
    std::vector<std::wstring> arguments = test::SplitCommandLine(commandLine);
    ASSERT_FALSE(arguments.empty()) << "no single loader";
    arguments.erase(arguments.begin());
    EXPECT_EQ(start.loaderArguments, arguments) << test::ToUtf8(commandLine);
    const std::wstring end = start.commandLineEnd;
    EXPECT_EQ(end,
              commandLine.substr(commandLine.size() - std::min(end.size(), commandLine.size())));
}

// Without arguments the loader gets the eleven characters of parameters it always got.
INSTANTIATE_TEST_SUITE_P(
    Arguments, StartByArguments,
    ::testing::Values(
        StartCase{"None", L"", {L"1", L"0", L"loader"}, 0, L"\" 1 0  loader"},
        StartCase{"One", L"first", {L"first", L"0", L"loader"}},
        StartCase{"Two", L"first 40", {L"first", L"40", L"loader"}},
        StartCase{"BlankAndEmpty", L"\"two words\" \"\"", {L"two words", L"", L"loader"}},
        StartCase{"EmptyFirst", L"\"\" 0", {L"", L"0", L"loader"}},
        StartCase{"QuotesAndTrailingBackslash",
                  L"\"say \\\"hi\\\"\" \"C:\\dir\\\\\"",
                  {L"say \"hi\"", L"C:\\dir\\", L"loader"}},
        StartCase{"Three", L"7 0 loader", {}}, StartCase{"ThreeOfAnyText", L"x 0 y", {}},
        StartCase{"Five", L"7 0 loader x y", {}}, StartCase{"Delay", L"1 1500 loader", {}, 1500},
        StartCase{"NegativeDelay", L"1 -1 loader", {}}),
    ::testing::PrintToStringParamName());

// Without a QuorlLaunch.exe the copy stays empty; with one that is no program
// the copy is whole, and the shell refuses it with a box of its own.
TEST(LauncherRoad, UnderAnotherNameStartsNoLoaderFromTheEmptyCopyOrOneTheShellRefuses) {
    for (const char* launcherFile : {"", "no program"}) {
        test::CInstallation install;
        install.RenameLauncher(L"QuorlStart.exe");
        std::unique_ptr<test::CBoxWatcher> shellBox;
        if (*launcherFile != '\0') {
            test::WriteFileBytes(install.App(L"QuorlLaunch.exe"), launcherFile);
            shellBox = std::make_unique<test::CBoxWatcher>(L"*", install.InRoot(L"box.txt"));
        }
        const test::ProcessResult result = install.RunLauncher(L"");
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_TRUE(test::ProcessIdsNamed(L"QuorlLoader.exe").empty());
        EXPECT_EQ(FailedLauncherLines(install), install.LogMessages());
        EXPECT_EQ(launcherFile, install.LoaderCopy());
    }
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
    EXPECT_TRUE(install.LoaderCopyIsWhole());
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
    Lines updateLines;      // the loader's
    bool started;           // the loader by the launcher, the client by the loader
    bool sameCopy = false;  // the old loader copy is the launcher byte for byte
    bool signs = false;     // a signed launcher, with an installer of its own subject
    friend void PrintTo(const HoldCase& row, std::ostream* out) { *out << row.name; }
};

class HeldFile : public ::testing::TestWithParam<HoldCase> {};

TEST_P(HeldFile, DelaysTheStepOrFailsItAsToday) {
    const HoldCase& hold = GetParam();
    const bool launcher = hold.held == std::wstring(kLoaderCopy);
    if (hold.signs && !test::FileExists(test::ProgramPath(test::kSignedLauncher))) {
        GTEST_SKIP() << test::kNoSignedPrograms;
    }
    test::CInstallation install(L"app", hold.signs ? test::kSignedLauncher : L"QuorlLaunch.exe");
    if (hold.held == std::wstring(kInstaller)) {
        install.AddPendingInstaller(hold.signs ? L"signed\\setup-same.exe" : L"fake_setup.exe");
    }
    test::WriteFileBytes(install.App(L"QuorlLoader.exe"),
                         hold.sameCopy ? test::ReadFileBytes(install.LauncherPath()) : "stale");
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
// sharing reading, it can be neither removed nor rewritten, and is started
// only when it already is the launcher. Sharing reading, the installer runs
// and its archive meets the hold.
INSTANTIATE_TEST_SUITE_P(
    Holds, HeldFile,
    ::testing::Values(HoldCase{"OldLoaderCopy", kLoaderCopy, L"none", 3000, kNoUpdate, true},
                      HoldCase{"OldLoaderCopyLong", kLoaderCopy, L"none", 20000, kNoUpdate, false},
                      HoldCase{"CopyToStart", kLoaderCopy, L"write", 3000, kNoUpdate, true},
                      HoldCase{"CopyToStartLong", kLoaderCopy, L"write", 20000, kNoUpdate, false},
                      HoldCase{"SameCopyLong", kLoaderCopy, L"read", 20000, kNoUpdate, true, true},
                      HoldCase{"OtherCopyLong", kLoaderCopy, L"read", 20000, kNoUpdate, false},
                      HoldCase{"Client", L"Quorl.exe", L"none", 3000, kNoUpdate, true},
                      HoldCase{"ClientLong", L"Quorl.exe", L"none", 20000, kNoUpdate, false},
                      HoldCase{"Installer", kInstaller, L"none", 3000, kArchivedLines, true},
                      HoldCase{"InstallerLong", kInstaller, L"none", 20000, kPending, true},
                      // A signature never read is no signature that failed.
                      HoldCase{"SignedInstallerLong", kInstaller, L"none", 20000, kPending, true,
                               false, true},
                      HoldCase{"RanInstaller", kInstaller, L"read", 3000, kArchivedLines, true},
                      HoldCase{"RanInstallerLong", kInstaller, L"read", 20000, kLeft, true}),
    ::testing::PrintToStringParamName());

// A loader that finds another one working ends with one line and touches nothing.
TEST(LoaderRoad, SecondLoaderEndsWhileTheFirstHoldsTheLoaderMutexOrDeniesItToUs) {
    // Denied, as by a loader started with more rights than this one would be.
    for (const wchar_t* options : {L"", L"--deny"}) {
        SCOPED_TRACE(test::ToUtf8(options));
        test::CInstallation install;
        test::CHolder firstLoader(L"QuorlLoader.exe", options);
        ASSERT_TRUE(firstLoader.WaitUntilHeld());
        const test::ProcessResult result = install.RunLauncher(kLoaderArguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ((Lines{install.DirectoryLine(), "Quorl loader already runing! exit"}),
                  install.LogMessages());
        EXPECT_TRUE(firstLoader.Quit().finished);
    }
}

// What the loader finds beside the pending installer.
enum class Before {
    kNothing,
    kClientRunning,
    kOlderBackup,
    kReadOnlyOlderBackup,
    kReadOnlyPair,  // the installer read-only too
    kCutDownload
};

struct UpdateCase {
    const char* name;
    const wchar_t* launcher;   // named as for test::ProgramPath
    const wchar_t* installer;  // likewise
    Before before;
    Lines updateLines;
    friend void PrintTo(const UpdateCase& row, std::ostream* out) { *out << row.name; }
};

class UpdateRoad : public ::testing::TestWithParam<UpdateCase> {};

// What ran is archived, or deleted where the archive fails, so that it does not
// run again at every start; what did not run stays pending; the client starts
// either way.
TEST_P(UpdateRoad, RunsTheInstallerOnceOrKeepsItPending) {
    const UpdateCase& update = GetParam();
    if (!test::FileExists(test::ProgramPath(update.launcher))) {
        GTEST_SKIP() << test::kNoSignedPrograms;
    }
    test::CInstallation install(L"app", update.launcher);
    install.AddPendingInstaller(update.installer);
    if (update.before == Before::kCutDownload) {
        test::WriteFileBytes(install.InstallerPath(),
                             test::ReadFileBytes(install.InstallerPath()).substr(0, 3000));
    }
    const std::string installer = test::ReadFileBytes(install.InstallerPath());
    const std::wstring backup = install.App(L"setup.exe.bak");
    const bool readOnly =
        update.before == Before::kReadOnlyOlderBackup || update.before == Before::kReadOnlyPair;
    const bool older = update.before == Before::kOlderBackup || readOnly;
    if (older) {
        test::WriteFileBytes(backup, "previous update");
    }
    if (readOnly) {
        ::SetFileAttributesW(backup.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    if (update.before == Before::kReadOnlyPair) {
        ::SetFileAttributesW(install.InstallerPath().c_str(), FILE_ATTRIBUTE_READONLY);
    }
    const CScopedKernelHandle clientMutex(
        update.before == Before::kClientRunning
            ? ::CreateMutexW(nullptr, FALSE, L"__Quorl_Mutex__50051")
            : nullptr);

    const test::ProcessResult result = install.RunLauncher(kLoaderArguments);
    ::SetFileAttributesW(backup.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::SetFileAttributesW(install.InstallerPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    // A box of the shell's would hold the loader until the time limit.
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(LoaderLines(install, update.updateLines), install.LogMessages());
    const bool ran = test::CountOf(update.updateLines, kArchivedLines[1]) == 1;
    const bool archived = ran && test::CountOf(update.updateLines, "backup setup.exe failed!") == 0;
    EXPECT_NE(ran, test::FileExists(install.InstallerPath()));
    EXPECT_EQ(ran ? "" : installer, test::ReadFileBytes(install.InstallerPath()));
    EXPECT_EQ(archived || older, test::FileExists(backup));
    EXPECT_EQ(archived ? installer : older ? "previous update" : "", test::ReadFileBytes(backup));
    const auto client = test::ExpectClientRanRestricted(install);
    const auto record = test::ReadRecord(install.InstallerRecordPath());
    ASSERT_EQ(ran, !record.empty()) << "whether the installer ran";
    if (ran) {
        ASSERT_EQ(1u, record.count("end")) << "the loader went on before the installer ended";
        EXPECT_EQ("", record.at("parameters"));
        EXPECT_EQ(test::ToUtf8(install.AppDir()), record.at("cwd"));
        ASSERT_EQ(1u, client.count("started"));
        EXPECT_GT(std::stoull(client.at("started")), std::stoull(record.at("end")));
    }
    if (update.before == Before::kCutDownload || update.before == Before::kReadOnlyPair) {
        // Still pending, it meets the next start the same way; run, never again.
        ASSERT_TRUE(install.RunLauncher(kLoaderArguments).finished);
        EXPECT_EQ(Concat(LoaderLines(install, update.updateLines),
                         LoaderLines(install, ran ? kNoUpdate : kPending)),
                  install.LogMessages());
        EXPECT_EQ(ran ? "" : installer, test::ReadFileBytes(install.InstallerPath()));
    }
}

const wchar_t kLauncher[] = L"QuorlLaunch.exe";
const wchar_t kFakeSetup[] = L"fake_setup.exe";
const Lines kReplacedLines = Concat(kArchivedLines, {"remove previous update pack!"});
// A signed launcher runs only an installer signed under its own subject.
const wchar_t* const kSigned = test::kSignedLauncher;
const Lines kRefused = {"setup.exe signature check failed, keep it pending"};

INSTANTIATE_TEST_SUITE_P(
    Updates, UpdateRoad,
    ::testing::Values(
        UpdateCase{"ClientRunningLeavesTheInstallerPending",
                   kLauncher,
                   kFakeSetup,
                   Before::kClientRunning,
                   {"found setup.exe OK, but QUORL already runing, abort this update"}},
        UpdateCase{"InstallerRunsOnceAndIsArchived", kLauncher, kFakeSetup, Before::kNothing,
                   kArchivedLines},
        UpdateCase{"OlderBackupIsReplaced", kLauncher, kFakeSetup, Before::kOlderBackup,
                   kReplacedLines},
        UpdateCase{"InstallerRunsOnceWhenTheOlderBackupCannotBeRemoved", kLauncher, kFakeSetup,
                   Before::kReadOnlyOlderBackup,
                   Concat(kReplacedLines, {"backup setup.exe failed!"})},
        UpdateCase{"ReadOnlyInstallerRunsOnceBesideAReadOnlyBackup", kLauncher, kFakeSetup,
                   Before::kReadOnlyPair, Concat(kReplacedLines, {"backup setup.exe failed!"})},
        UpdateCase{"CutDownloadStaysPendingWithoutABox", kLauncher, kFakeSetup,
                   Before::kCutDownload, kPending},
        UpdateCase{"SignedSameCertificate", kSigned, L"signed\\setup-same.exe", Before::kNothing,
                   kArchivedLines},
        UpdateCase{"SignedRenewedCertificate", kSigned, L"signed\\setup-renewed.exe",
                   Before::kNothing, kArchivedLines},
        UpdateCase{"SignedSameSubjectSameCA", kSigned, L"signed\\setup-second.exe",
                   Before::kNothing, kArchivedLines},
        UpdateCase{"SignedOtherSubjectSameCA", kSigned, L"signed\\setup-colleague.exe",
                   Before::kNothing, kRefused},
        UpdateCase{"SignedUnsigned", kSigned, kFakeSetup, Before::kNothing, kRefused},
        UpdateCase{"SignedOtherSubject", kSigned, L"signed\\setup-other.exe", Before::kNothing,
                   kRefused},
        UpdateCase{"SignedByteChangedAfterSigning", kSigned, L"signed\\setup-changed.exe",
                   Before::kNothing, kRefused}),
    ::testing::PrintToStringParamName());

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

TEST(ClientMissingRoad, MatchingDirectoryIsNotAClient) {
    test::CInstallation install;
    ::DeleteFileW(install.InRoot(L"Quorl.exe").c_str());
    test::MakeDirectory(install.InRoot(L"quorl.exe"));
    test::CBoxWatcher watcher(kErrorCaptionW, install.InRoot(L"box.txt"));
    const test::ProcessResult result = install.RunLauncher(kLoaderArguments);
    ExpectErrorBox(watcher, kClientMissingText);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(LoaderLines(install, kNoUpdate, {"Quorl.exe not found!!!"}), install.LogMessages());
}

// Every program in root is the fake client, which writes the same record
// beside itself: its module names the one that ran.
TEST(ClientRoad, StartsTheClientAmongTheProgramsBesideIt) {
    const struct {
        const char* name;
        std::vector<const wchar_t*> programs;
        const wchar_t* client;
    } rows[] = {
        // Unquoted, the path would start the planted My.exe.
        {"name with a blank", {L"My quorl.exe", L"My.exe"}, L"My quorl.exe"},
        {"beside its setup, uninstaller and helper",
         {L"Quorl Setup.exe", L"Quorl Uninstall.exe", L"Quorl-Helper.exe", L"Quorl.exe"},
         L"Quorl.exe"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::CInstallation install;
        ::DeleteFileW(install.InRoot(L"Quorl.exe").c_str());
        for (const wchar_t* program : row.programs) {
            test::CopyFileTo(test::ProgramPath(L"fake_client.exe"), install.InRoot(program));
        }
        ASSERT_TRUE(install.RunLauncher(kLoaderArguments).finished);
        EXPECT_EQ(LoaderLines(install, kNoUpdate), install.LogMessages());
        test::ExpectClientRanRestricted(install, row.client);
    }
}

// A shortcut's "Run: Minimized" or "Maximized" reaches the client through the
// launcher, the loader and an installer's run; a normal window is as good as none.
TEST(ShowStateRoad, ReachesTheClientAsTheLauncherWasGivenIt) {
    using Row = std::tuple<int, bool, const char*>;  // given, an update pending, the client's
    for (const auto& [given, update, client] :
         {Row{SW_SHOWMINNOACTIVE, false, "7"}, Row{SW_SHOWMAXIMIZED, true, "3"},
          Row{SW_SHOWNORMAL, false, "none"}}) {
        SCOPED_TRACE(given);
        test::CInstallation install;
        if (update) {
            install.AddPendingInstaller();
        }
        test::CChildProcess launcher(install.LauncherCommandLine(L""), install.AppDir(), given);
        ASSERT_TRUE(launcher.Wait(30000).finished);
        ASSERT_TRUE(install.WaitForLoader());
        EXPECT_EQ(update, test::FileExists(install.App(L"setup.exe.bak")));
        test::ExpectClientRanRestricted(install, L"Quorl.exe", client);
    }
}

// Missing files are logged in the launcher's order under one box; a directory
// of a required file's name counts as the file.
TEST(RequiredFilesRoad, MissingOnesAreLoggedInOrderUnderOneBox) {
    Lines allMissing;
    for (const std::string& name : test::kRequiredFiles) {
        allMissing.push_back(name + " not found");
    }
    const struct {
        const char* name;
        std::vector<std::string> missing;
        Lines missingLines;
        const wchar_t* directory;  // in place of that file
    } rows[] = {
        {"two, and a directory named like a third",
         {"ovank.dll", "sqlite3.dll"},
         {"sqlite3.dll not found", "ovank.dll not found"},
         L"Tolvane.dll"},
        {"all eight", test::kRequiredFiles, allMissing, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::CInstallation install;
        for (const std::string& name : row.missing) {
            ::DeleteFileW(install.App(test::FromUtf8(name)).c_str());
        }
        if (row.directory != nullptr) {
            ::DeleteFileW(install.App(row.directory).c_str());
            test::MakeDirectory(install.App(row.directory));
        }
        test::CBoxWatcher watcher(kErrorCaptionW, install.InRoot(L"box.txt"));
        const test::ProcessResult result = install.RunLauncher(L"");
        ExpectErrorBox(watcher, kRequiredFilesText);
        // The launcher ends right after one box: a second would keep it waiting.
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_EQ(Concat({install.DirectoryLine()}, row.missingLines), install.LogMessages());
        EXPECT_FALSE(test::FileExists(install.App(L"QuorlLoader.exe")));
    }
}

TEST(ConcurrentLaunchers, TakeTurnsRewritingTheLoader) {
    // The test plays a launcher that is still writing the loader copy; then an
    // older one started elevated, whose lock we may not open ("D:").
    for (const wchar_t* const descriptor : {L"", L"D:"}) {
        SCOPED_TRACE(test::ToUtf8(descriptor));
        test::CInstallation install;
        test::WriteFileBytes(install.App(L"QuorlLoader.exe"), "stale");
        CScopedKernelHandle otherLauncher =
            test::CreateMutexUnder(descriptor, L"QuorlLaunch.exe", true);
        ASSERT_TRUE(otherLauncher.IsValid());
        test::CChildProcess launcher(install.LauncherCommandLine(L""), install.AppDir());
        ASSERT_TRUE(launcher.Started());
        // From its last line before the lock, a launcher that took no turn would
        // be through the copy and ended within moments.
        ASSERT_TRUE(install.WaitForLogMessage("build Quorl Loader..."));
        EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(launcher.Handle(), 200));
        EXPECT_EQ("stale", install.LoaderCopy());

        ::ReleaseMutex(otherLauncher.Get());
        otherLauncher.Reset();
        const test::ProcessResult result = launcher.Wait(30000);
        ASSERT_TRUE(result.finished);
        ASSERT_TRUE(install.WaitForLoader());
        EXPECT_TRUE(install.LoaderCopyIsWhole());
        EXPECT_EQ(LauncherLines(install), test::Messages(result.output));
    }
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
    EXPECT_EQ("stale", install.LoaderCopy());
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
    EXPECT_TRUE(install.LoaderCopyIsWhole());
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
    std::set<std::string> known = {"Quorl loader already runing! exit",
                                   "exec Quorl.exe with a restricted token"};
    for (const Lines& lines : {FailedLauncherLines(install), LoaderLines(install, kNoUpdate),
                               LoaderLines(install, kArchivedLines)}) {
        known.insert(lines.begin(), lines.end());
    }
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
    EXPECT_TRUE(install.LoaderCopyIsWhole());
    EXPECT_FALSE(test::FileExists(install.InstallerPath()));
    EXPECT_EQ(test::ReadFileBytes(test::ProgramPath(L"fake_setup.exe")),
              test::ReadFileBytes(install.App(L"setup.exe.bak")));
}

}  // namespace
