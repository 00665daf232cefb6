#include "launcher/loader_mode.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/file_hold.h"
#include "base/named_mutex.h"
#include "base/platform.h"
#include "base/scoped_handle.h"
#include "fileutil/find_files.h"
#include "fileutil/path_util.h"
#include "fileutil/text_convert.h"
#include "launcher/client_choice.h"
#include "launcher/error_message.h"
#include "logging/simple_logger.h"
#include "process/client_probe.h"
#include "process/installer_signature.h"
#include "process/restricted_process.h"
#include "process/update_setup.h"

namespace {

const wchar_t kLoaderMutexName[] = L"QuorlLoader.exe";
const wchar_t kUpdateInstaller[] = L"..\\update\\setup.exe";
const wchar_t kClientMutexSuffix[] = L"50051";
const wchar_t kUpdateBackup[] = L"setup.exe.bak";
const wchar_t kSearchDirectory[] = L"..\\";
const wchar_t kClientPattern[] = L"*quorl*.exe";
constexpr int kSearchDepth = 1;
const wchar_t kClientPathForMessage[] = L"..\\Quorl.exe";
const wchar_t kClientMissingFormat[] = L"找不到%ls, 请重新安装!";

// A negative delay would reach Sleep as a wait of weeks, or INFINITE.
DWORD DelayFromArgument(const char* argument) {
    const int delay = std::atoi(argument);
    return delay < 0 ? 0 : static_cast<DWORD>(delay);
}

// Held until the process ends; without a mutex at all, the loader works unguarded.
bool BecomeTheOnlyLoader() {
    CNamedMutex mutex(kLoaderMutexName, CNamedMutex::Access::kCreate);
    if (mutex.Existed()) {
        return false;
    }
    mutex.KeepUntilProcessEnds();
    return true;
}

// ERROR_SUCCESS once the installer is the backup; the error of the move when
// it is still pending. An older backup that cannot be removed makes the move
// fail too: rename replaces no file.
DWORD ArchiveInstaller() {
    const std::string backup = WStringToString(kUpdateBackup);
    if (PathExists(backup)) {
        Log("remove previous update pack!");
        RetryWhileFileHeld([&] { return RuntimeFileResult(std::remove(backup.c_str())); });
    }
    const std::string installer = WStringToString(kUpdateInstaller);
    return RetryWhileFileHeld(
        [&] { return RuntimeFileResult(std::rename(installer.c_str(), backup.c_str())); });
}

// Whoever held the installer through the whole wait of the move holds it
// still, so the deletion does not wait for him again. The installer has run
// and is used up: a read-only attribute (kept from a download medium, say)
// must not make it run again at every start.
bool DeleteInstaller(DWORD archiveError) {
    const std::string installer = WStringToString(kUpdateInstaller);
    const auto removeInstaller = [&] { return RuntimeFileResult(std::remove(installer.c_str())); };
    DWORD error =
        IsFileHeld(archiveError) ? removeInstaller() : RetryWhileFileHeld(removeInstaller);
    if (error != ERROR_SUCCESS && !IsFileHeld(error) && ClearReadOnlyAttribute(kUpdateInstaller)) {
        error = removeInstaller();
    }
    return error == ERROR_SUCCESS;
}

// True when the installer ran and was seen to end.
bool RunCheckedInstaller() {
    // Held until the installer has ended: meanwhile nobody can change or
    // rename the file, so the installer that runs is the one checked. A
    // scanner's hold is waited out; what we cannot open the shell cannot
    // start either, and its signature was never read.
    const CScopedKernelHandle installer =
        OpenFileWhenFree(kUpdateInstaller, GENERIC_READ, FILE_SHARE_READ);
    if (installer.IsValid() && !InstallerPassesSignatureCheck(installer.Get(), kUpdateInstaller)) {
        Log("setup.exe signature check failed, keep it pending");
        return false;
    }
    Log("found setup.exe OK, update and waiting...");
    if (!installer.IsValid() || !RunUpdateSetupAndWait(kUpdateInstaller)) {
        // Archiving an installer that never ran, or ran without our seeing it
        // end, would lose the update.
        Log("start setup.exe failed, keep it pending");
        return false;
    }
    return true;
}

void InstallPendingUpdate() {
    if (!PathExists(WStringToString(kUpdateInstaller))) {
        Log("setup.exe not found, check Quorl.exe...");
        return;
    }
    if (IsClientRunning(kClientMutexSuffix)) {
        Log("found setup.exe OK, but QUORL already runing, abort this update");
        return;
    }
    if (!RunCheckedInstaller()) {
        return;
    }
    Log("setup.exe exit, backup it setup.exe -> setup.exe.bak ...");
    const DWORD archiveError = ArchiveInstaller();
    if (archiveError != ERROR_SUCCESS) {
        // It has run; left pending, it would run again at every start.
        Log("backup setup.exe failed!");
        if (!DeleteInstaller(archiveError)) {
            // It will run again at the next start; the log says why.
            Log("delete setup.exe failed!");
        }
    }
}

void ShowClientMissingMessage() {
    wchar_t message[256] = {};
    // From user32, which the box loads anyway.
    const auto format = platform::wsprintfW();
    if (format != nullptr) {
        format(message, kClientMissingFormat, kClientPathForMessage);  // fixed text: it fits
    }
    ShowErrorMessage(message);
}

void StartClient(const std::wstring& clientPath) {
    Log("check Quorl.exe OK exec it");
    // Quoted, so that a blank in the path cannot make Windows try a shorter
    // program name first.
    std::wstring commandLine = L"\"" + clientPath + L"\"";
    switch (StartRestrictedProcess(commandLine.data())) {
        case RestrictedStart::kSaferLevel:
            break;
        case RestrictedStart::kOwnTokenRestricted:
            Log("exec Quorl.exe with a restricted token");
            break;
        case RestrictedStart::kNotStarted:
            Log("exec Quorl.exe failed!");
            break;
    }
}

void StartClientOrReportItMissing() {
    std::vector<std::wstring> found;
    FindFiles(kSearchDirectory, found, kClientPattern, kSearchDepth);
    const std::wstring client = ChooseClient(found);
    if (!client.empty() && PathExists(WStringToString(client))) {
        StartClient(client);
    } else {
        Log("Quorl.exe not found!!!");
        ShowClientMissingMessage();
    }
}

}  // namespace

bool IsLoaderRunning() {
    return CNamedMutex(kLoaderMutexName, CNamedMutex::Access::kOpenOnly).Existed();
}

void RunLoader(int /*argc*/, char* argv[]) {
    ::Sleep(DelayFromArgument(argv[2]));
    if (!BecomeTheOnlyLoader()) {
        Log("Quorl loader already runing! exit");
        return;
    }
    Log("start Quorl Loader...");
    InstallPendingUpdate();
    StartClientOrReportItMissing();
    Log("exit Quorl Loader");
}
