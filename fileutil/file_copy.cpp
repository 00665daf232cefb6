#include "fileutil/file_copy.h"

#include <fstream>

namespace {

constexpr std::streamsize kBlockBytes = 256;

}  // namespace

void CopyFileBytes(std::string source, std::string destination) {
    // The default stream opens share the files deny-none, with msvcrt and the
    // MSVC runtime alike.
    std::ifstream in(source, std::ios::binary);
    std::ofstream out(destination, std::ios::binary | std::ios::trunc);
    char block[kBlockBytes];
    // Testing for any failure rather than for end of file alone also ends the
    // loop on a source that never opened or a read error, neither of which
    // ever reaches end of file. A short last read still gets written.
    while (in.good()) {
        in.read(block, kBlockBytes);
        out.write(block, in.gcount());
    }
    in.close();
    out.close();
}
