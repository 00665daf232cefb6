#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "fileutil/path_util.h"
#include "tests/support/test_support.h"

namespace {

// The directories below `root`, relative to it.
std::set<std::wstring> DirectoriesBelow(const std::wstring& root) {
    std::set<std::wstring> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_directory()) {
            found.insert(entry.path().lexically_relative(root).wstring());
        }
    }
    return found;
}

struct DirectoryCase {
    const char* name;
    const char* path;  // relative, and then below the working directory with its drive
    bool created;
    std::set<std::wstring> directories;  // all there are afterwards
};

// In a directory that holds the file "plain" alone.
TEST(CreateDirectoryPath, CreatesEveryMissingElementOnceAndStopsAtAFile) {
    for (const DirectoryCase& row : {
             DirectoryCase{"new", "logs", true, {L"logs"}},
             DirectoryCase{"mixed separators", "a/b\\c/", true, {L"a", L"a\\b", L"a\\b\\c"}},
             DirectoryCase{"trailing separator", "p\\q\\", true, {L"p", L"p\\q"}},
             DirectoryCase{"element that is a file", "plain\\below\\deeper", false, {}},
             DirectoryCase{"empty", "", true, {}},
         }) {
        for (const bool absolute : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (absolute ? ", absolute" : ""));
            test::CTempDir dir;
            const test::CCurrentDirScope cwd(dir.Path());
            test::WriteFileBytes(dir / L"plain", "x");
            const std::string path = (absolute ? test::ToUtf8(dir / L"") : "") + row.path;
            // Launchers started together make the log directory at once: all agree.
            std::atomic<int> started{0};
            std::atomic<int> agreeing{0};
            std::vector<std::thread> racers(8);
            for (std::thread& racer : racers) {
                racer = std::thread([&] {
                    for (++started; started < 8;) {
                    }
                    agreeing += CreateDirectoryPath(path) == row.created;
                });
            }
            std::for_each(racers.begin(), racers.end(), [](std::thread& racer) { racer.join(); });
            EXPECT_EQ(8, agreeing);
            // The second time it finds what the first made.
            EXPECT_EQ(row.created, CreateDirectoryPath(path));
            EXPECT_EQ(row.directories, DirectoriesBelow(dir.Path()));
            EXPECT_EQ("x", test::ReadFileBytes(dir / L"plain"));
        }
    }
}

TEST(PathExists, ForFilesAndDirectoriesOnly) {
    test::CTempDir dir;
    const test::CCurrentDirScope cwd(dir.Path());
    test::WriteFileBytes(dir / L"file.txt", "");
    test::MakeDirectory(dir / L"folder");
    EXPECT_TRUE(PathExists("file.txt"));
    EXPECT_TRUE(PathExists("folder"));
    EXPECT_FALSE(PathExists("missing"));
    EXPECT_FALSE(PathExists(""));
}

// The inserted text is never searched again; an empty text to find changes nothing.
TEST(ReplaceAll, ReplacesEveryOccurrenceInOnePass) {
    const struct {
        std::string text, from, to, replaced;
    } rows[] = {
        {"a/b/c", "/", "\\", "a\\b\\c"}, {"aa", "a", "aa", "aaaa"}, {"abc", "", "x", "abc"}};
    for (const auto& row : rows) {
        std::string text = row.text;
        ReplaceAll(text, row.from, row.to);
        EXPECT_EQ(row.replaced, text) << row.text << " " << row.from << " -> " << row.to;
    }
}

}  // namespace
