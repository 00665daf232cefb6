#include "fileutil/file_copy.h"

#include <share.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "base/file_hold.h"

namespace {

constexpr size_t kBlockBytes = 256;

struct FileCloser {
    // A written copy is closed and checked where it is made: these were read, or failed already.
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using CScopedFile = std::unique_ptr<std::FILE, FileCloser>;

// Runtime file streams that other processes may read and write meanwhile.
CScopedFile OpenSharedStream(const std::string& name, const char* mode) {
    return CScopedFile(_fsopen(name.c_str(), mode, _SH_DENYNO));
}

}  // namespace

DWORD CopyFileBytes(std::string source, std::string destination) {
    CScopedFile in = OpenSharedStream(source, "rb");
    const DWORD sourceError = in ? ERROR_SUCCESS : LastRuntimeFileError();
    CScopedFile out = OpenSharedStream(destination, "wb");
    if (!out) {
        return LastRuntimeFileError();
    }
    if (!in) {
        return sourceError;
    }
    char block[kBlockBytes];
    // Testing for a read error as well as for end of file ends the loop on a
    // source that fails part-way, which never reaches end of file. A short
    // last read still gets written.
    while (!std::feof(in.get()) && !std::ferror(in.get())) {
        const size_t read = std::fread(block, 1, kBlockBytes, in.get());
        if (std::fwrite(block, 1, read, out.get()) != read) {
            return ERROR_WRITE_FAULT;
        }
    }
    if (std::ferror(in.get())) {
        return ERROR_READ_FAULT;
    }
    // What the stream still buffers is written out here, and that write can
    // fail as well, on a full disk for one. The flush is asked for on its own
    // because not every runtime's fclose reports a failed final flush.
    const bool written = std::fflush(out.get()) == 0 && std::fclose(out.release()) == 0;
    return written ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

bool FilesHaveSameBytes(const std::string& first, const std::string& second) {
    const CScopedFile one = OpenSharedStream(first, "rb");
    const CScopedFile other = OpenSharedStream(second, "rb");
    if (!one || !other) {
        return false;
    }
    char blockOfOne[kBlockBytes];
    char blockOfOther[kBlockBytes];
    size_t read = kBlockBytes;
    while (read == kBlockBytes) {
        read = std::fread(blockOfOne, 1, kBlockBytes, one.get());
        if (std::fread(blockOfOther, 1, kBlockBytes, other.get()) != read ||
            std::memcmp(blockOfOne, blockOfOther, read) != 0) {
            return false;
        }
    }
    // A short read is the end only where it is no read error.
    return !std::ferror(one.get()) && !std::ferror(other.get());
}
