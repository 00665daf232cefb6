#include "base/user_desktop.h"

#include "base/platform.h"

WORD RequestedShowState() {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow
                                                         : WORD{SW_SHOWNORMAL};
}

void AllowToComeToFront(DWORD processId) {
    const auto allow = platform::AllowSetForegroundWindow();
    if (allow != nullptr) {
        allow(processId);  // refused when not ours to give: nothing else would give it
    }
}
