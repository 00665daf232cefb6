#include "launcher/required_files.h"

#include <string>

#include "fileutil/path_util.h"
#include "launcher/error_message.h"
#include "launcher/required_file_names.h"
#include "logging/simple_logger.h"

namespace {

const wchar_t kRequiredFilesText[] =
    L"必要的文件没有找到，可能被安全软件删除！\n请重新安装，并在安全软件中添加信任!";

// Joined rather than printed with a format: nothing else formats text, and a
// format would link the runtime's whole printf engine (some 24 KB of the image).
void LogMissingFile(const char* name) {
    Log((std::string(name) + " not found").c_str());
}

}  // namespace

int CheckRequiredFiles() {
    int missing = 0;
    for (const char* name : kRequiredFileNames) {
        if (!PathExists(name)) {
            ++missing;
            LogMissingFile(name);
        }
    }
    return missing;
}

void ShowRequiredFilesMessage() {
    ShowErrorMessage(kRequiredFilesText);
}
