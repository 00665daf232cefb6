#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/scenario/scenario_support.h"

namespace {

class StartupByArgumentCount : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(StartupByArgumentCount, LogsItsDirectoryFirstAndExitsWithZero) {
    test::CInstallation install;
    const test::ProcessResult result = install.RunLauncher(GetParam());
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    ASSERT_TRUE(install.WaitForLoader());
    ASSERT_TRUE(test::DirectoryExists(install.App(L"logs")));

    const std::string text = install.LogText();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ("\r\n", text.substr(text.size() - 2));
    EXPECT_EQ(install.DirectoryLine(), install.LogMessages().at(0));
    // Every line the process wrote to standard output is a line of the log
    // (Without fails on one that is missing).
    const std::vector<std::string> outputLines = test::SplitCrLfLines(result.output);
    ASSERT_FALSE(outputLines.empty());
    EXPECT_EQ(install.DirectoryLine(), outputLines[0].substr(test::kStampLength));
    test::Without(test::SplitCrLfLines(text), outputLines);
}

INSTANTIATE_TEST_SUITE_P(ZeroToFiveArguments, StartupByArgumentCount,
                         ::testing::Values(L"", L"7", L"7 0", L"7 0 loader", L"7 0 loader x y"));

// Three arguments keep the run to one process, so only start-up acts on the
// directories under test.
const wchar_t kLoaderArguments[] = L"1 0 loader";

TEST(StartupTest, StartedElsewhereMakesLogsThereButLogsOnlyBesideTheExecutable) {
    test::CInstallation install;
    test::CTempDir elsewhere;
    const test::ProcessResult result = install.RunLauncher(kLoaderArguments, elsewhere.Path());
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(test::DirectoryExists(elsewhere / L"logs"));
    EXPECT_FALSE(test::FileExists(elsewhere / L"logs\\SimpleLogger.log"));
    EXPECT_FALSE(test::DirectoryExists(install.App(L"logs")));
    // Without a log file the lines still reach standard output.
    EXPECT_EQ(install.DirectoryLine(), test::Messages(result.output).at(0));
}

TEST(StartupTest, StartedElsewhereLogsBesideTheExecutableWhenLogsExistsThere) {
    test::CInstallation install;
    test::MakeDirectory(install.App(L"logs"));
    test::CTempDir elsewhere;
    ASSERT_TRUE(install.RunLauncher(kLoaderArguments, elsewhere.Path()).finished);
    EXPECT_EQ(install.DirectoryLine(), install.LogMessages().at(0));
    EXPECT_FALSE(test::FileExists(elsewhere / L"logs\\SimpleLogger.log"));
}

TEST(StartupTest, DirectoryOutsideTheAnsiCodePageStillBecomesTheWorkingDirectory) {
    ASSERT_EQ(1252u, ::GetACP()) << "the test needs a code page without Chinese characters";
    test::CInstallation install(L"app-\u4e2d\u6587");
    test::MakeDirectory(install.App(L"logs"));
    test::CTempDir elsewhere;
    ASSERT_TRUE(install.RunLauncher(kLoaderArguments, elsewhere.Path()).finished);
    // The log line shows the code page's stand-in characters, but the log file
    // itself, and the required files found beside it, prove the process
    // worked in its own directory.
    const std::vector<std::string> messages = install.LogMessages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(test::ToUtf8(install.Root()) + "\\app-??", messages[0]);
    EXPECT_EQ("start Quorl Loader...", messages[1]);
    EXPECT_FALSE(test::FileExists(elsewhere / L"logs\\SimpleLogger.log"));
}

}  // namespace
