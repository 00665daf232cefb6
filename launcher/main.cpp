#include <string>

#include "fileutil/module_dir.h"
#include "fileutil/path_util.h"
#include "launcher/main_sequence.h"
#include "launcher/required_files.h"
#include "logging/simple_logger.h"

int main(int argc, char* argv[]) {
    // Made before the working directory moves, so relative to where we were started.
    CreateDirectoryPath("logs");
    const std::string moduleDir = SetCurrentDirToModuleDir();
    CSimpleLogger::GetInstance()->Log(moduleDir.c_str());
    if (CheckRequiredFiles() != 0) {
        ShowRequiredFilesMessage();
        return 1;
    }
    return RunMainSequence(argc, argv);
}
