#include <windows.h>

#include <string>

#include "base/platform.h"
#include "fileutil/module_dir.h"
#include "fileutil/path_util.h"
#include "launcher/main_sequence.h"
#include "launcher/required_files.h"
#include "logging/simple_logger.h"

namespace {

// Windows looks for a DLL outside its KnownDLLs list in the application's
// directory first. A per-user installation leaves that directory writable by
// the user, and the launcher may run elevated, so nothing may load from there,
// not even before main, where the runtime's constructors run (libssp's, in a
// build without our own stack guard, loads the cryptographic provider).
// Constructors run from the lowest priority number up, so 101, the first one
// not reserved to the implementation, runs before the runtime's and every C++
// static initialiser. MSVC needs no such constructor: no initialiser there
// loads a DLL, so main is early enough.
#if defined(__GNUC__)
__attribute__((constructor(101)))
#endif
void LoadDllsFromSystem32Only() {
    const auto setDefaultDllDirectories = platform::SetDefaultDllDirectories();
    if (setDefaultDllDirectories != nullptr) {
        // Refuses only flags it does not know, and it knows this one.
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
#if !defined(__GNUC__)
    LoadDllsFromSystem32Only();
#endif
    // Made before the working directory moves, so relative to where we were
    // started. Without it only the log file is lost, which the logger outlives.
    CreateDirectoryPath("logs");
    std::string moduleDir;
    const bool inModuleDir = SetCurrentDirToModuleDir(moduleDir);
    CSimpleLogger::GetInstance()->Log(moduleDir.c_str());
    if (!inModuleDir) {
        // Every later step would look for the installation where we were
        // started, and blame security software for files it never deleted.
        Log("set working directory failed!");
        return 1;
    }
    if (CheckRequiredFiles() != 0) {
        ShowRequiredFilesMessage();
        return 1;
    }
    return RunMainSequence(argc, argv);
}
