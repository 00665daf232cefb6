#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "fileutil/file_copy.h"
#include "tests/support/test_support.h"

namespace {

// A copy that never returns fails the test instead of stalling the run; its
// thread is abandoned and ends with the process.
bool ReturnsWithin(std::chrono::seconds limit, std::function<void()> work) {
    auto task = std::make_shared<std::packaged_task<void()>>(std::move(work));
    std::future<void> done = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    return done.wait_for(limit) == std::future_status::ready;
}

// Every byte value from 0 to 250, CR, LF and Ctrl-Z included; the odd period
// moves them across the 256-byte block boundaries.
std::string SampleBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i % 251);
    }
    return bytes;
}

class CopyFileBytesTest : public ::testing::Test {
protected:
    std::string Destination() const { return test::ReadFileBytes(m_dir / L"dst.bin"); }

    test::CTempDir m_dir;
    test::CCurrentDirScope m_cwd{m_dir.Path()};
};

TEST_F(CopyFileBytesTest, CopiesEveryLengthByteForByte) {
    for (size_t size : {0, 1, 255, 256, 257, 100000}) {
        SCOPED_TRACE(size);
        test::WriteFileBytes(m_dir / L"src.bin", SampleBytes(size));
        EXPECT_EQ(DWORD{ERROR_SUCCESS}, CopyFileBytes("src.bin", "dst.bin"));
        ASSERT_TRUE(test::FileExists(m_dir / L"dst.bin"));
        EXPECT_EQ(SampleBytes(size), Destination());
    }
}

TEST_F(CopyFileBytesTest, LongerDestinationIsCutToTheSource) {
    test::WriteFileBytes(m_dir / L"src.bin", "new");
    test::WriteFileBytes(m_dir / L"dst.bin", SampleBytes(1000));
    EXPECT_EQ(DWORD{ERROR_SUCCESS}, CopyFileBytes("src.bin", "dst.bin"));
    EXPECT_EQ("new", Destination());
}

TEST_F(CopyFileBytesTest, MissingSourceFailsAndLeavesAnEmptyDestination) {
    DWORD copied = ERROR_SUCCESS;
    EXPECT_TRUE(ReturnsWithin(std::chrono::seconds(10),
                              [&copied] { copied = CopyFileBytes("missing.bin", "dst.bin"); }));
    EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, copied);
    EXPECT_TRUE(test::FileExists(m_dir / L"dst.bin"));
    EXPECT_EQ("", Destination());
}

// The launcher waits while the error says the file is held.
TEST_F(CopyFileBytesTest, DestinationOpenWithoutWriteSharingFailsAsHeldAndStaysUnchanged) {
    test::WriteFileBytes(m_dir / L"src.bin", SampleBytes(600));
    test::WriteFileBytes(m_dir / L"dst.bin", "old");
    CScopedKernelHandle holder(::CreateFileW((m_dir / L"dst.bin").c_str(), GENERIC_READ, 0, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.IsValid());
    DWORD copied = ERROR_SUCCESS;
    EXPECT_TRUE(ReturnsWithin(std::chrono::seconds(10),
                              [&copied] { copied = CopyFileBytes("src.bin", "dst.bin"); }));
    EXPECT_EQ(DWORD{ERROR_SHARING_VIOLATION}, copied);
    holder.Reset();
    EXPECT_EQ("old", Destination());
}

}  // namespace
