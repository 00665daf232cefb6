#include <gtest/gtest.h>

#include <filesystem>

#include "fileutil/path_util.h"
#include "tests/support/test_support.h"

namespace {

class PathUtilTest : public ::testing::Test {
protected:
    test::CTempDir m_dir;
    test::CCurrentDirScope m_cwd{m_dir.Path()};
};

TEST_F(PathUtilTest, CreateDirectoryPathCreatesOnceAndThenFindsIt) {
    EXPECT_TRUE(CreateDirectoryPath("logs"));
    EXPECT_TRUE(test::DirectoryExists(m_dir / L"logs"));
    EXPECT_TRUE(CreateDirectoryPath("logs"));
}

TEST_F(PathUtilTest, CreateDirectoryPathAcceptsMixedSeparators) {
    EXPECT_TRUE(CreateDirectoryPath("a/b\\c/"));
    EXPECT_TRUE(test::DirectoryExists(m_dir / L"a\\b\\c"));
}

TEST_F(PathUtilTest, CreateDirectoryPathStopsAtAnElementThatIsAFile) {
    test::WriteFileBytes(m_dir / L"plain", "x");
    EXPECT_FALSE(CreateDirectoryPath("plain\\below\\deeper"));
    EXPECT_FALSE(test::DirectoryExists(m_dir / L"plain\\below"));
    EXPECT_EQ("x", test::ReadFileBytes(m_dir / L"plain"));
}

TEST_F(PathUtilTest, CreateDirectoryPathOnEmptyPathCreatesNothing) {
    EXPECT_TRUE(CreateDirectoryPath(""));
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.Path()));
}

TEST_F(PathUtilTest, CreateDirectoryPathTakesAbsolutePathsWithDrive) {
    const std::string absolute = test::ToUtf8(m_dir / L"x\\y");
    EXPECT_TRUE(CreateDirectoryPath(absolute));
    EXPECT_TRUE(test::DirectoryExists(m_dir / L"x\\y"));
}

TEST_F(PathUtilTest, CreateDirectoryPathTakesATrailingSeparator) {
    EXPECT_TRUE(CreateDirectoryPath("p\\q\\"));
    EXPECT_TRUE(test::DirectoryExists(m_dir / L"p\\q"));
}

TEST_F(PathUtilTest, PathExistsForFilesAndDirectoriesOnly) {
    test::WriteFileBytes(m_dir / L"file.txt", "");
    test::MakeDirectory(m_dir / L"folder");
    EXPECT_TRUE(PathExists("file.txt"));
    EXPECT_TRUE(PathExists("folder"));
    EXPECT_FALSE(PathExists("missing"));
    EXPECT_FALSE(PathExists(""));
}

TEST(ReplaceAllTest, ReplacesEveryOccurrenceInOnePass) {
    std::string text = "a/b/c";
    ReplaceAll(text, "/", "\\");
    EXPECT_EQ("a\\b\\c", text);

    std::string growing = "aa";
    ReplaceAll(growing, "a", "aa");
    EXPECT_EQ("aaaa", growing);
}

TEST(ReplaceAllTest, EmptyTextToFindLeavesTheTextUnchanged) {
    std::string text = "abc";
    ReplaceAll(text, "", "x");
    EXPECT_EQ("abc", text);
}

TEST(NormalizePathSeparatorsTest, LeavesTheArgumentAlone) {
    const std::string original = "a/b";
    EXPECT_EQ("a\\b", NormalizePathSeparators(original));
    EXPECT_EQ("a/b", original);
}

}  // namespace
