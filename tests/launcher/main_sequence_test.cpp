#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/launcher_mode.h"
#include "launcher/loader_mode.h"
#include "launcher/main_sequence.h"

namespace {

std::vector<std::string> g_calls;

void Record(const char* mode, int argc, char* argv[]) {
    std::string call = mode;
    for (int i = 0; i < argc; ++i) {
        call += std::string(" ") + argv[i];
    }
    g_calls.push_back(call);
}

int RunWith(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(&argument[0]);
    }
    argv.push_back(nullptr);
    g_calls.clear();
    return RunMainSequence(static_cast<int>(arguments.size()), argv.data());
}

}  // namespace

void RunLauncher(int argc, char* argv[]) {
    Record("launcher", argc, argv);
}
void RunLoader(int argc, char* argv[]) {
    Record("loader", argc, argv);
}

namespace {

TEST(MainSequenceTest, AtMostTwoArgumentsRunTheLauncher) {
    EXPECT_EQ(0, RunWith({"QuorlLaunch.exe"}));
    EXPECT_EQ(std::vector<std::string>{"launcher QuorlLaunch.exe"}, g_calls);
    EXPECT_EQ(0, RunWith({"QuorlLaunch.exe", "loader", "loader"}));
    EXPECT_EQ(std::vector<std::string>{"launcher QuorlLaunch.exe loader loader"}, g_calls);
}

TEST(MainSequenceTest, ThreeOrMoreArgumentsRunTheLoaderWhateverTheirText) {
    EXPECT_EQ(0, RunWith({"QuorlLoader.exe", "x", "5", "y"}));
    EXPECT_EQ(std::vector<std::string>{"loader QuorlLoader.exe x 5 y"}, g_calls);
    EXPECT_EQ(0, RunWith({"QuorlLoader.exe", "1", "0", "loader", "more", "args"}));
    EXPECT_EQ(std::vector<std::string>{"loader QuorlLoader.exe 1 0 loader more args"}, g_calls);
}

}  // namespace
