#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;
using test::kStampLength;

std::wstring WriterCommandLine(const std::wstring& arguments) {
    return test::QuoteArgument(test::ProgramPath(L"log_writer.exe")) + L" " + arguments;
}

class SimpleLoggerTest : public ::testing::Test {
protected:
    void SetUp() override { test::MakeDirectory(m_dir / L"logs"); }

    test::ProcessResult RunWriter(const std::wstring& arguments) {
        return test::RunProcess(WriterCommandLine(arguments), m_dir.Path());
    }

    std::wstring LogPath() const { return m_dir / L"logs\\SimpleLogger.log"; }
    std::string LogText() const { return test::ReadFileBytes(LogPath()); }

    test::CTempDir m_dir;
};

TEST_F(SimpleLoggerTest, WritesStampedCrLfLinesToFileAndStandardOutput) {
    const test::ProcessResult result = RunWriter(L"lines step 3");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);

    const std::string text = LogText();
    ASSERT_EQ((Lines{"step 1", "step 2", "step 3"}), test::Messages(text));
    EXPECT_EQ("\r\n", text.substr(text.size() - 2));
    EXPECT_EQ(text, result.output);
}

TEST_F(SimpleLoggerTest, MessageBytesReachTheFileUnchangedExceptLineEnds) {
    // "a\nb" then the cp936 bytes of a Chinese word and a Latin-1 e-acute.
    ASSERT_TRUE(RunWriter(L"hex 610a62d6d0cec4e9").finished);
    const std::string text = LogText();
    ASSERT_EQ(kStampLength + 11, text.size());
    EXPECT_TRUE(test::HasStamp(text));
    EXPECT_EQ("a\r\nb\xd6\xd0\xce\xc4\xe9\r\n", text.substr(kStampLength));
}

TEST_F(SimpleLoggerTest, EmptyAndNullMessagesGiveTheStampAlone) {
    ASSERT_TRUE(RunWriter(L"hex \"\"").finished);
    ASSERT_TRUE(RunWriter(L"null").finished);
    EXPECT_EQ((Lines{"", ""}), test::Messages(LogText()));
}

TEST_F(SimpleLoggerTest, AppendsAcrossProcesses) {
    ASSERT_TRUE(RunWriter(L"lines first 1").finished);
    ASSERT_TRUE(RunWriter(L"lines second 1").finished);
    EXPECT_EQ((Lines{"first 1", "second 1"}), test::Messages(LogText()));
}

TEST_F(SimpleLoggerTest, LogOfOneMebibyteIsKeptALargerOneDiscardedAtTheNextStart) {
    for (const size_t size : {1048576u, 1048577u}) {
        SCOPED_TRACE(size);
        const std::string old(size, 'x');
        const std::string kept = size == 1048576u ? old : "";
        test::WriteFileBytes(LogPath(), old);
        ASSERT_TRUE(RunWriter(L"lines new 1").finished);
        const std::string text = LogText();
        ASSERT_GT(text.size(), kept.size());
        EXPECT_EQ(kept, text.substr(0, kept.size()));
        EXPECT_EQ(Lines{"new 1"}, test::Messages(text.substr(kept.size())));
    }
}

TEST_F(SimpleLoggerTest, LogThatGrowsPastTheLimitIsNotDeletedFromUnderAWriter) {
    test::WriteFileBytes(LogPath(), std::string(1048570, 'x'));
    test::CChildProcess writer(WriterCommandLine(L"lines long 20000"), m_dir.Path());
    ASSERT_TRUE(writer.Started());
    const auto writing = [&writer] {
        return ::WaitForSingleObject(writer.Handle(), 0) == static_cast<DWORD>(WAIT_TIMEOUT);
    };
    test::WaitUntil([&] { return !writing() || test::ReadFileBytes(LogPath()).size() > 1048576; },
                    60000, 1);
    // A second process now finds the log oversized while the first still writes.
    ASSERT_TRUE(writing()) << "the first writer ended before the log passed the limit";
    ASSERT_TRUE(RunWriter(L"lines late 1").finished);
    ASSERT_TRUE(writing()) << "the first writer ended too soon for the test to mean anything";
    ASSERT_TRUE(writer.Wait(60000).finished);

    const std::string text = LogText();
    ASSERT_GT(text.size(), 1048570u) << "the log was deleted";
    EXPECT_TRUE(text.compare(0, 1048570, std::string(1048570, 'x')) == 0) << "the log was cut back";
    const std::vector<std::string> lines = test::SplitCrLfLines(text.substr(1048570));
    EXPECT_EQ(20001u, lines.size());
    EXPECT_NE(std::string::npos, text.find("]:late 1\r\n"));
    EXPECT_NE(std::string::npos, text.find("]:long 20000\r\n"));
}

TEST_F(SimpleLoggerTest, WithoutLogsDirectoryLinesGoToStandardOutputOnly) {
    test::CTempDir bare;
    const test::ProcessResult result =
        test::RunProcess(WriterCommandLine(L"lines alone 2"), bare.Path());
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_FALSE(test::DirectoryExists(bare / L"logs"));
    EXPECT_EQ((Lines{"alone 1", "alone 2"}), test::Messages(result.output));
}

TEST_F(SimpleLoggerTest, ConcurrentWritersLoseAndTearNoLine) {
    constexpr int kWriters = 6;
    constexpr int kLinesEach = 400;
    // Every writer waits at the gate until all have reached it, so they write
    // at once however slowly each was started.
    const std::wstring gate = L"quorl-test-gate-" + std::to_wstring(::GetCurrentProcessId());
    const CScopedKernelHandle ready(
        ::CreateSemaphoreW(nullptr, 0, kWriters, (gate + L" ready").c_str()));
    const CScopedKernelHandle go(::CreateEventW(nullptr, TRUE, FALSE, (gate + L" go").c_str()));
    std::vector<std::unique_ptr<test::CChildProcess>> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(std::make_unique<test::CChildProcess>(
            WriterCommandLine(L"lines w" + std::to_wstring(w) + L" " + std::to_wstring(kLinesEach) +
                              L" " + test::QuoteArgument(gate)),
            m_dir.Path()));
        ASSERT_TRUE(writers.back()->Started());
    }
    for (int w = 0; w < kWriters; ++w) {
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(ready.Get(), 30000));
    }
    ::SetEvent(go.Get());
    for (auto& writer : writers) {
        ASSERT_TRUE(writer->Wait(60000).finished);
    }

    const std::string text = LogText();
    const std::vector<std::string> lines = test::SplitCrLfLines(text);
    std::set<std::string> seen;
    for (const std::string& line : lines) {
        ASSERT_TRUE(test::HasStamp(line)) << "torn line: " << line;
        EXPECT_TRUE(seen.insert(line.substr(kStampLength)).second) << "twice: " << line;
    }
    EXPECT_EQ(static_cast<size_t>(kWriters * kLinesEach), seen.size());
    for (int w = 0; w < kWriters; ++w) {
        EXPECT_EQ(1u, seen.count("w" + std::to_string(w) + " " + std::to_string(kLinesEach)));
    }
    EXPECT_EQ("\r\n", text.substr(text.size() - 2));
}

}  // namespace
