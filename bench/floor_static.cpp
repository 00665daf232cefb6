// The least that any launcher of this shape costs: a windowed, statically
// linked program that copies itself byte for byte and starts the copy through
// the shell with three arguments; the copy starts a third, trivial process
// directly, as the loader starts the client, and ends without waiting for it.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

// Program name plus three arguments marks the copy, as it marks the loader;
// a fourth marks the third process, which ends at once.
constexpr int kCopyArgCount = 4;
constexpr int kThirdArgCount = 5;
const wchar_t kCopySuffix[] = L"_copy.exe";
const wchar_t kCopyParameters[] = L"1 0  loader";
const wchar_t kThirdParameters[] = L" 1 0 loader client";

std::wstring OwnPath() {
    wchar_t self[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(self, length) : std::wstring();
}

int StartThirdProcess() {
    std::wstring commandLine = L"\"" + OwnPath() + L"\"" + kThirdParameters;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                          nullptr, L"..\\", &startup, &child)) {
        return 1;
    }
    ::CloseHandle(child.hProcess);
    ::CloseHandle(child.hThread);
    return 0;
}

int CopySelfAndStartCopy() {
    const std::wstring self = OwnPath();
    if (self.size() <= 4) {
        return 1;
    }
    // Beside the original, so that both starts resolve the same directory.
    const std::wstring copy = self.substr(0, self.size() - 4) + kCopySuffix;
    if (!::CopyFileW(self.c_str(), copy.c_str(), FALSE)) {
        return 1;
    }
    const HINSTANCE started =
        ::ShellExecuteW(nullptr, L"open", copy.c_str(), kCopyParameters, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(started) > 32 ? 0 : 1;
}

}  // namespace

int main(int argc, char* /*argv*/[]) {
    if (argc >= kThirdArgCount) {
        return 0;
    }
    if (argc == kCopyArgCount) {
        return StartThirdProcess();
    }
    return CopySelfAndStartCopy();
}
