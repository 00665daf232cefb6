#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/scenario/scenario_support.h"

namespace {

// Three arguments keep the run to one process, so only start-up acts on the
// directories under test.
using test::kLoaderArguments;

TEST(StartupTest, StartedElsewhereMakesLogsThereButLogsOnlyBesideTheExecutable) {
    test::CInstallation install;
    test::CTempDir elsewhere;
    const test::ProcessResult result = install.RunLauncher(kLoaderArguments, elsewhere.Path());
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(test::DirectoryExists(elsewhere / L"logs"));
    EXPECT_FALSE(test::FileExists(elsewhere / L"logs\\SimpleLogger.log"));
    EXPECT_FALSE(test::DirectoryExists(install.App(L"logs")));
}

TEST(StartupTest, StartedElsewhereLogsBesideTheExecutableWhenLogsExistsThereWhateverItsName) {
    ASSERT_EQ(1252u, ::GetACP()) << "the test needs a code page without Chinese characters";
    // Outside the code page the log line shows its stand-in characters, but
    // the log file itself, and the required files found beside it, prove the
    // process worked in its own directory.
    for (const auto& [appDir, shown] :
         {std::make_pair(L"app", "\\app"), std::make_pair(L"app-\u4e2d\u6587", "\\app-??")}) {
        SCOPED_TRACE(shown);
        test::CInstallation install(appDir);
        test::MakeDirectory(install.App(L"logs"));
        test::CTempDir elsewhere;
        ASSERT_TRUE(install.RunLauncher(kLoaderArguments, elsewhere.Path()).finished);
        const std::vector<std::string> messages = install.LogMessages();
        ASSERT_GE(messages.size(), 2u);
        EXPECT_EQ(test::ToUtf8(install.Root()) + shown, messages[0]);
        EXPECT_EQ("start Quorl Loader...", messages[1]);
        EXPECT_FALSE(test::FileExists(elsewhere / L"logs\\SimpleLogger.log"));
    }
}

}  // namespace
