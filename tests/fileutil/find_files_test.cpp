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
// plain\deep_quorl.exe. Matches come behind what the list held, "kept"; their
// order is the file system's.
TEST(FindFiles, ListsMatchingFilesToTheDepthGiven) {
    test::CTempDir root;
    for (const wchar_t* file : {L"a_quorl.exe", L"b.txt", L"sub_quorl.exe\\inner_quorl.exe",
                                L"sub_quorl.exe\\other.txt", L"plain\\deep_quorl.exe"}) {
        test::MakeDirectory((root / file).substr(0, (root / file).find_last_of(L'\\')));
        test::WriteFileBytes(root / file, "");
    }
    const std::wstring dir = root / L"";
    const struct {
        const char* name;
        std::wstring directory;
        const wchar_t* pattern;
        int depth;
        List found;  // without the directory
    } rows[] = {
        {"depth 0", dir, kPattern, 0, {}},
        {"no match", dir, L"*.none", 1, {}},
        {"missing directory", dir + L"missing\\", L"*", 1, {}},
        {"no subdirectory at depth 1", dir, kPattern, 1, {L"a_quorl.exe"}},
        {"lone asterisk: plain files only", dir, L"*", 1, {L"a_quorl.exe", L"b.txt"}},
        {"depth 2: into matching subdirectories only",
         dir,
         kPattern,
         2,
         {L"a_quorl.exe", L"sub_quorl.exe\\inner_quorl.exe"}},
        // The directory is joined to the name as given.
        {"\"..\" without a separator", L"..", kPattern, 1, {}},
        {"\"..\\\"", L"..\\", kPattern, 1, {L"a_quorl.exe"}},
    };
    const test::CCurrentDirScope cwd(root / L"plain");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        List list{L"kept"};
        FindFiles(row.directory, list, row.pattern, row.depth);
        std::sort(list.begin() + 1, list.end());
        List expected{L"kept"};
        for (const std::wstring& name : row.found) {
            expected.push_back(row.directory + name);
        }
        EXPECT_EQ(expected, list);
    }
}

}  // namespace
