#include "process/update_setup.h"

#include <windows.h>
#include <shellapi.h>

#include "base/platform.h"
#include "base/scoped_handle.h"
#include "base/user_desktop.h"

bool RunUpdateSetupAndWait(const wchar_t* path) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    // A cut download would bring the shell's box back at every start, and the
    // user can do nothing about it: the failure is logged and the installer
    // stays pending. An elevation prompt is no error box and still appears.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = path;
    info.lpParameters = L"";
    info.nShow = SW_SHOWNORMAL;
    const auto shellExecuteEx = platform::ShellExecuteExW();
    // The elevation prompt comes from a process whose id we cannot know
    // beforehand; without the right it only flashes in the taskbar while we wait.
    AllowToComeToFront(ASFW_ANY);
    if (shellExecuteEx == nullptr || !shellExecuteEx(&info) || info.hProcess == nullptr) {
        return false;
    }
    const CScopedKernelHandle process(info.hProcess);
    // Only the installer's own process is waited for, not what it starts. A
    // wait that failed has not seen it end, and the caller must not archive it.
    return ::WaitForSingleObject(process.Get(), INFINITE) == WAIT_OBJECT_0;
}
