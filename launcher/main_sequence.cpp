#include "launcher/main_sequence.h"

#include "launcher/launcher_mode.h"
#include "launcher/loader_mode.h"

namespace {

// Program name plus three arguments: the launcher always hands its loader three.
constexpr int kLoaderArgCount = 4;

}  // namespace

int RunMainSequence(int argc, char* argv[]) {
    if (argc >= kLoaderArgCount) {
        RunLoader(argc, argv);
    } else {
        RunLauncher(argc, argv);
    }
    return 0;
}
