#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fileutil/find_files.h"
#include "tests/support/test_support.h"

namespace {

using List = std::vector<std::wstring>;

const wchar_t kPattern[] = L"*quorl*.exe";

// root: a_quorl.exe, b.txt, sub_quorl.exe\{inner_quorl.exe, other.txt},
// plain\deep_quorl.exe
class FindFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteFileBytes(m_root / L"a_quorl.exe", "");
        test::WriteFileBytes(m_root / L"b.txt", "");
        test::MakeDirectory(m_root / L"sub_quorl.exe");
        test::WriteFileBytes(m_root / L"sub_quorl.exe\\inner_quorl.exe", "");
        test::WriteFileBytes(m_root / L"sub_quorl.exe\\other.txt", "");
        test::MakeDirectory(m_root / L"plain");
        test::WriteFileBytes(m_root / L"plain\\deep_quorl.exe", "");
    }

    // Enumeration order is the file system's; compare as sets.
    List Find(const std::wstring& pattern, int depth) {
        List found;
        FindFiles(m_dir, found, pattern, depth);
        std::sort(found.begin(), found.end());
        return found;
    }

    test::CTempDir m_root;
    const std::wstring m_dir = m_root.Path() + L"\\";
};

TEST_F(FindFilesTest, NothingToListLeavesTheListUnchanged) {
    List list{L"kept"};
    FindFiles(m_dir, list, kPattern, 0);
    FindFiles(m_dir, list, L"*.none", 1);
    FindFiles(m_dir + L"missing\\", list, L"*", 1);
    EXPECT_EQ(List{L"kept"}, list);
}

TEST_F(FindFilesTest, AppendsMatchingFilesBehindExistingEntriesButNoSubdirectory) {
    List list{L"kept"};
    FindFiles(m_dir, list, kPattern, 1);
    EXPECT_EQ((List{L"kept", m_dir + L"a_quorl.exe"}), list);
}

TEST_F(FindFilesTest, LoneAsteriskListsPlainFilesOnly) {
    EXPECT_EQ((List{m_dir + L"a_quorl.exe", m_dir + L"b.txt"}), Find(L"*", 1));
}

TEST_F(FindFilesTest, DepthTwoDescendsIntoMatchingSubdirectoriesOnly) {
    EXPECT_EQ((List{m_dir + L"a_quorl.exe", m_dir + L"sub_quorl.exe\\inner_quorl.exe"}),
              Find(kPattern, 2));
}

TEST_F(FindFilesTest, DirectoryIsJoinedToTheNameAsGiven) {
    test::CCurrentDirScope cwd(m_root / L"plain");
    List list;
    FindFiles(L"..", list, kPattern, 1);
    EXPECT_TRUE(list.empty()) << "no separator is added after \"..\"";
    FindFiles(L"..\\", list, kPattern, 1);
    EXPECT_EQ(List{L"..\\a_quorl.exe"}, list);
}

}  // namespace
