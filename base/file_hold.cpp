#include "base/file_hold.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr DWORD kFirstPauseMs = 50;
constexpr DWORD kLongestPauseMs = 500;
constexpr DWORD kWaitBudgetMs = 5000;

}  // namespace

bool IsFileHeld(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

DWORD RetryWhileFileHeld(const std::function<DWORD()>& attempt,
                         const std::function<void(DWORD)>& pause) {
    DWORD error = attempt();
    DWORD nextPauseMs = kFirstPauseMs;
    for (DWORD waitedMs = 0; IsFileHeld(error) && waitedMs < kWaitBudgetMs;) {
        const DWORD pauseMs = std::min(nextPauseMs, kWaitBudgetMs - waitedMs);
        pause(pauseMs);
        waitedMs += pauseMs;
        nextPauseMs = std::min(nextPauseMs * 2, kLongestPauseMs);
        error = attempt();
    }
    return error;
}

CScopedKernelHandle OpenFileWhenFree(const wchar_t* path, DWORD access, DWORD share) {
    CScopedKernelHandle file;
    RetryWhileFileHeld([&] {  // the handle tells how it went
        file.Reset(::CreateFileW(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
        return file.IsValid() ? ERROR_SUCCESS : ::GetLastError();
    });
    return file;
}

DWORD LastRuntimeFileError() {
    return static_cast<DWORD>(_doserrno);
}

DWORD RuntimeFileResult(int result) {
    return result == 0 ? ERROR_SUCCESS : LastRuntimeFileError();
}
