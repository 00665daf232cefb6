#include "launcher/client_choice.h"

#include <algorithm>
#include <cwchar>

namespace {

const wchar_t kClientFile[] = L"Quorl.exe";

bool IsNamedLikeTheClient(const std::wstring& path) {
    // A path without a separator is a name alone: npos + 1 is 0.
    const std::wstring::size_type nameStart = path.find_last_of(L"\\/") + 1;
    return _wcsicmp(path.c_str() + nameStart, kClientFile) == 0;
}

}  // namespace

// Names with a blank or a hyphen after "Quorl" (its uninstaller, its helpers)
// sort before "Quorl.exe" and would come first.
std::wstring ChooseClient(const std::vector<std::wstring>& found) {
    const auto client = std::find_if(found.begin(), found.end(), IsNamedLikeTheClient);
    if (client != found.end()) {
        return *client;
    }
    return found.empty() ? std::wstring() : found.front();
}
