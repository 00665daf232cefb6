#include "launcher/launcher_mode.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <optional>
#include <string>

#include "base/file_hold.h"
#include "base/named_mutex.h"
#include "base/platform.h"
#include "base/scoped_handle.h"
#include "base/user_desktop.h"
#include "fileutil/file_copy.h"
#include "fileutil/text_convert.h"
#include "launcher/loader_mode.h"
#include "logging/simple_logger.h"

namespace {

const wchar_t kLoaderFile[] = L"QuorlLoader.exe";
const wchar_t kLauncherFile[] = L"QuorlLaunch.exe";
const wchar_t kDefaultArgument1[] = L"1";
const wchar_t kDefaultArgument2[] = L"0";
const wchar_t kSeparator[] = L" ";
const wchar_t kModeMarker[] = L"  loader";
const wchar_t kShellVerb[] = L"open";

// Launchers started together must not rewrite the loader file while another
// one is still writing it, or one of them would start a half-written copy.
const wchar_t kBuildMutexName[] = L"QuorlLaunch.exe";
constexpr DWORD kBuildWaitMs = 30000;
constexpr DWORD kDeniedLockPauseMs = 100;

// ERROR_SUCCESS once the loader file is a fresh, whole copy of the launcher.
DWORD RebuildLoaderFile() {
    std::remove(WStringToString(kLoaderFile).c_str());  // one left there fails the copy
    return CopyFileBytes(WStringToString(kLauncherFile), WStringToString(kLoaderFile));
}

// A loader started from a cut or empty copy would show the user a shell
// error or nothing at all, so only a whole copy is started. A scanner that
// has the old copy open delays the build; a loader of an earlier start that
// still runs from it (waiting for an installer, say) holds it for as long as
// it works, which no wait outlasts, so its hold fails the build at once.
// Where the copy cannot be rewritten for another reason (a per-machine
// installation that the user may not write, a scanner that holds the old
// copy past the wait), one that already is the launcher serves as well.
bool BuildLoader() {
    const DWORD error = RetryWhileFileHeld([] {
        const DWORD rebuildError = RebuildLoaderFile();
        return IsFileHeld(rebuildError) && IsLoaderRunning() ? ERROR_ACCESS_DENIED : rebuildError;
    });
    return error == ERROR_SUCCESS ||
           (!IsLoaderRunning() &&
            FilesHaveSameBytes(WStringToString(kLauncherFile), WStringToString(kLoaderFile)));
}

// The shell shows a box of its own for a program that it cannot open, so the
// copy is first opened as a program is opened, a scanner's hold waited out,
// and kept open through the start, so that nobody can open it exclusively
// before the shell does.
bool StartLoader(const std::wstring& parameters) {
    const CScopedKernelHandle loader = OpenFileWhenFree(kLoaderFile, GENERIC_READ | GENERIC_EXECUTE,
                                                        FILE_SHARE_READ | FILE_SHARE_DELETE);
    if (!loader.IsValid()) {
        return false;
    }
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    // We end at once: the start must be complete when the call returns.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.lpVerb = kShellVerb;
    info.lpFile = kLoaderFile;
    info.lpParameters = parameters.c_str();
    // The loader hands it on to the client: a shortcut's "Run: Minimized", say.
    info.nShow = RequestedShowState();
    const auto shellExecuteEx = platform::ShellExecuteExW();
    if (shellExecuteEx == nullptr || !shellExecuteEx(&info)) {
        return false;
    }
    const CScopedKernelHandle process(info.hProcess);
    // Our right to the front, which the user's click gave us, goes to the
    // loader for the client and the installer's prompt. Named, not ASFW_ANY,
    // which would open it to every process until the user's next input; the
    // loader passes it on only after its start-up, long after this call.
    if (process.IsValid()) {
        AllowToComeToFront(::GetProcessId(process.Get()));
    }
    return true;
}

// The launcher's first two arguments (default "1" and "0"), then "  loader".
std::wstring BuildLoaderParameters(int argc, const char* const argv[]) {
    std::wstring parameters =
        argc < 2 ? kDefaultArgument1 : QuoteArgument(StringToWString(argv[1]));
    parameters += kSeparator;
    parameters += argc < 3 ? kDefaultArgument2 : QuoteArgument(StringToWString(argv[2]));
    parameters += kModeMarker;
    return parameters;
}

// Our turn at the build lock, within 30 s in all. One that we may not open
// (an older launcher's, made elevated under its token's default DACL) cannot
// be waited on, so we look again until it is gone and ours to make. A failed
// wait lets us build no more than a lock held past the wait does.
bool TakeBuildTurn(std::optional<CNamedMutex>& buildLock) {
    const ULONGLONG deadline = ::GetTickCount64() + kBuildWaitMs;
    for (buildLock.emplace(kBuildMutexName, CNamedMutex::Access::kCreate);
         !buildLock->IsValid() && buildLock->Existed();
         buildLock.emplace(kBuildMutexName, CNamedMutex::Access::kCreate)) {
        if (::GetTickCount64() >= deadline) {
            return false;
        }
        ::Sleep(kDeniedLockPauseMs);
    }
    const ULONGLONG now = ::GetTickCount64();
    // Without a mutex to be had, the launcher builds as if it were alone.
    return !buildLock->IsValid() ||
           buildLock->Lock(now < deadline ? static_cast<DWORD>(deadline - now) : 0);
}

// False when no loader was started: no lock in time, no whole copy, one that
// cannot be opened, or one that the shell refused.
bool BuildAndStartLoaderInTurn(const std::wstring& parameters) {
    std::optional<CNamedMutex> buildLock;
    if (!TakeBuildTurn(buildLock)) {
        return false;
    }
    // The shell has mapped the loader's image by the time it returns, so the
    // next launcher can neither delete nor truncate the copy we started.
    return BuildLoader() && StartLoader(parameters);
}

}  // namespace

void RunLauncher(int argc, char* argv[]) {
    Log("start Quorl Launch...");
    Log("build Quorl Loader...");
    if (!BuildAndStartLoaderInTurn(BuildLoaderParameters(argc, argv))) {
        Log("build Quorl Loader failed!");
    }
    Log("exit Quorl Launch");
}
