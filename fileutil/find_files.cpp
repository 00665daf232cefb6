#include "fileutil/find_files.h"

#include <io.h>

#include <cstdint>
#include <cstring>

#include "base/scoped_handle.h"
#include "fileutil/text_convert.h"

namespace {

// Search handles of the runtime's _findfirst family; -1 means none.
struct FindHandleTraits {
    using Handle = std::intptr_t;
    static Handle Invalid() noexcept { return -1; }
    static bool IsValid(Handle handle) noexcept { return handle != -1; }
    static void Close(Handle handle) noexcept { _findclose(handle); }
};

using CScopedFindHandle = CScopedHandle<FindHandleTraits>;

bool IsDotEntry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

void AddEntry(const std::wstring& directory, const _finddata64i32_t& entry,
              std::vector<std::wstring>& list, const std::wstring& pattern, int depth) {
    const std::wstring path = directory + StringToWString(entry.name);
    if ((entry.attrib & _A_SUBDIR) == 0) {
        list.push_back(path);
    } else if (!IsDotEntry(entry.name)) {
        FindFiles(path + L"\\", list, pattern, depth - 1);
    }
}

}  // namespace

void FindFiles(std::wstring directory, std::vector<std::wstring>& list, std::wstring pattern,
               int depth) {
    if (depth <= 0) {
        return;
    }
    const std::string wildcardPath = WStringToString(directory + pattern);
    _finddata64i32_t entry = {};
    CScopedFindHandle search(_findfirst64i32(wildcardPath.c_str(), &entry));
    if (!search.IsValid()) {
        return;
    }
    for (int found = 0; found == 0; found = _findnext64i32(search.Get(), &entry)) {
        AddEntry(directory, entry, list, pattern, depth);
    }
}
