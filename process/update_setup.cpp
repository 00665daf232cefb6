#include "process/update_setup.h"

#include <windows.h>
#include <shellapi.h>

#include "base/platform.h"
#include "base/scoped_handle.h"

bool RunUpdateSetupAndWait() {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    // No SEE_MASK_FLAG_NO_UI: when the installer cannot start, the user sees why.
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = L"..\\update\\setup.exe";
    info.lpParameters = L"";
    info.nShow = SW_SHOWNORMAL;
    const auto shellExecuteEx = platform::ShellExecuteExW();
    if (shellExecuteEx == nullptr || !shellExecuteEx(&info) || info.hProcess == nullptr) {
        return false;
    }
    const CScopedKernelHandle process(info.hProcess);
    // Only the installer's own process is waited for, not what it starts.
    ::WaitForSingleObject(process.Get(), INFINITE);
    return true;
}
