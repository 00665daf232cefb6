#include "fileutil/path_util.h"

#include <windows.h>
#include <direct.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace {

constexpr unsigned short kDirectoryModeBit = 0x4000;

bool QueryStatus(const std::string& path, struct _stat64i32& status) {
    status = {};
    return _stat64i32(path.c_str(), &status) == 0;
}

bool IsDirectory(const std::string& path) {
    struct _stat64i32 status = {};
    return QueryStatus(path, status) && (status.st_mode & kDirectoryModeBit) != 0;
}

// True for a drive designator such as "C:" and for the empty prefix in front
// of a leading backslash: neither can be created.
bool IsDrivePrefix(const std::string& prefix) {
    return prefix.empty() || prefix.find(':') == prefix.size() - 1;
}

}  // namespace

bool CreateDirectoryPath(std::string path) {
    std::string p = NormalizePathSeparators(std::move(path));
    if (p.empty() || p.back() != '\\') {
        p += '\\';
    }
    std::string::size_type searchFrom = 0;
    for (;;) {
        const std::string::size_type separator = p.find('\\', searchFrom);
        if (separator == std::string::npos) {
            return true;
        }
        const std::string prefix = p.substr(0, separator);
        searchFrom = separator + 1;
        if (IsDrivePrefix(prefix)) {
            continue;
        }
        // cppcheck-suppress knownConditionTrueFalse ; one that a racing process made serves too
        if (!IsDirectory(prefix) && _mkdir(prefix.c_str()) == -1 && !IsDirectory(prefix)) {
            return false;
        }
    }
}

bool PathExists(std::string path) {
    struct _stat64i32 status = {};
    return QueryStatus(path, status);
}

bool ClearReadOnlyAttribute(const wchar_t* path) {
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           ::SetFileAttributesW(path, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
}

std::string NormalizePathSeparators(std::string path) {
    ReplaceAll(path, "/", "\\");
    return path;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return;
    }
    const std::string::size_type fromLength = from.size();
    const std::string::size_type toLength = to.size();
    std::string::size_type position = 0;
    while ((position = text.find(from, position)) != std::string::npos) {
        text.replace(position, fromLength, to);
        position += toLength;
    }
}
