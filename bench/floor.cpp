// The least that any two-process launcher costs: a windowed, statically linked
// program that copies itself byte for byte and starts the copy through the
// shell with three arguments; the copy ends at once.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

// Program name plus three arguments marks the copy, as it marks the loader.
constexpr int kCopyArgCount = 4;
const wchar_t kCopySuffix[] = L"_copy.exe";
const wchar_t kCopyParameters[] = L"1 0  loader";

}  // namespace

int main(int argc, char* /*argv*/[]) {
    if (argc >= kCopyArgCount) {
        return 0;
    }
    wchar_t self[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length <= 4 || length >= MAX_PATH) {
        return 1;
    }
    // Beside the original, so that both starts resolve the same directory.
    std::wstring copy(self, length - 4);
    copy += kCopySuffix;
    if (!::CopyFileW(self, copy.c_str(), FALSE)) {
        return 1;
    }
    const HINSTANCE started =
        ::ShellExecuteW(nullptr, L"open", copy.c_str(), kCopyParameters, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(started) > 32 ? 0 : 1;
}
