#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

const std::regex kStamp(R"(\[\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\]:)");
constexpr size_t kStampLength = 22;

class SimpleLoggerTest : public ::testing::Test {
protected:
    void SetUp() override { test::MakeDirectory(m_dir / L"logs"); }

    test::ProcessResult RunWriter(const std::wstring& arguments) {
        return test::RunProcess(
            test::QuoteArgument(test::ProgramPath(L"log_writer.exe")) + L" " + arguments,
            m_dir.Path());
    }

    std::wstring LogPath() const { return m_dir / L"logs\\SimpleLogger.log"; }
    std::string LogText() const { return test::ReadFileBytes(LogPath()); }

    static bool HasStamp(const std::string& line) {
        return line.size() >= kStampLength &&
               std::regex_match(line.substr(0, kStampLength), kStamp);
    }

    test::CTempDir m_dir;
};

TEST_F(SimpleLoggerTest, WritesStampedCrLfLinesToFileAndStandardOutput) {
    const test::ProcessResult result = RunWriter(L"lines step 3");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);

    const std::string text = LogText();
    const std::vector<std::string> lines = test::SplitCrLfLines(text);
    ASSERT_EQ(3u, lines.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(HasStamp(lines[i])) << lines[i];
        EXPECT_EQ("step " + std::to_string(i + 1), lines[i].substr(kStampLength));
    }
    EXPECT_EQ("\r\n", text.substr(text.size() - 2));
    EXPECT_EQ(text, result.output);
}

TEST_F(SimpleLoggerTest, MessageBytesReachTheFileUnchangedExceptLineEnds) {
    // "a\nb" then the cp936 bytes of a Chinese word and a Latin-1 e-acute.
    ASSERT_TRUE(RunWriter(L"hex 610a62d6d0cec4e9").finished);
    const std::string text = LogText();
    ASSERT_EQ(kStampLength + 11, text.size());
    EXPECT_TRUE(HasStamp(text));
    EXPECT_EQ("a\r\nb\xd6\xd0\xce\xc4\xe9\r\n", text.substr(kStampLength));
}

TEST_F(SimpleLoggerTest, EmptyAndNullMessagesGiveTheStampAlone) {
    ASSERT_TRUE(RunWriter(L"hex \"\"").finished);
    ASSERT_TRUE(RunWriter(L"null").finished);
    const std::vector<std::string> lines = test::SplitCrLfLines(LogText());
    ASSERT_EQ(2u, lines.size());
    for (const std::string& line : lines) {
        EXPECT_EQ(kStampLength, line.size());
        EXPECT_TRUE(HasStamp(line));
    }
}

TEST_F(SimpleLoggerTest, AppendsAcrossProcesses) {
    ASSERT_TRUE(RunWriter(L"lines first 1").finished);
    ASSERT_TRUE(RunWriter(L"lines second 1").finished);
    const std::vector<std::string> lines = test::SplitCrLfLines(LogText());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("first 1", lines[0].substr(kStampLength));
    EXPECT_EQ("second 1", lines[1].substr(kStampLength));
}

TEST_F(SimpleLoggerTest, LogOfExactlyOneMebibyteIsKept) {
    const std::string old(1048576, 'x');
    test::WriteFileBytes(LogPath(), old);
    ASSERT_TRUE(RunWriter(L"lines new 1").finished);
    const std::string text = LogText();
    ASSERT_GT(text.size(), old.size());
    EXPECT_EQ(old, text.substr(0, old.size()));
    EXPECT_EQ("new 1\r\n", text.substr(old.size() + kStampLength));
}

TEST_F(SimpleLoggerTest, LogLargerThanOneMebibyteIsDiscardedAtTheNextStart) {
    test::WriteFileBytes(LogPath(), std::string(1048577, 'x'));
    ASSERT_TRUE(RunWriter(L"lines new 1").finished);
    const std::vector<std::string> lines = test::SplitCrLfLines(LogText());
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("new 1", lines[0].substr(kStampLength));
}

TEST_F(SimpleLoggerTest, LogThatGrowsPastTheLimitIsNotDeletedFromUnderAWriter) {
    test::WriteFileBytes(LogPath(), std::string(1048570, 'x'));
    test::CChildProcess writer(
        test::QuoteArgument(test::ProgramPath(L"log_writer.exe")) + L" lines long 20000",
        m_dir.Path());
    ASSERT_TRUE(writer.Started());
    while (test::ReadFileBytes(LogPath()).size() <= 1048576) {
        ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(writer.Handle(), 0));
        ::Sleep(1);
    }
    // A second process now finds the log oversized while the first still writes.
    ASSERT_TRUE(RunWriter(L"lines late 1").finished);
    ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(writer.Handle(), 0))
        << "the first writer ended too soon for the test to mean anything";
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
    const test::ProcessResult result = test::RunProcess(
        test::QuoteArgument(test::ProgramPath(L"log_writer.exe")) + L" lines alone 2", bare.Path());
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_FALSE(test::DirectoryExists(bare / L"logs"));
    const std::vector<std::string> lines = test::SplitCrLfLines(result.output);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("alone 2", lines[1].substr(kStampLength));
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
            test::QuoteArgument(test::ProgramPath(L"log_writer.exe")) + L" lines w" +
                std::to_wstring(w) + L" " + std::to_wstring(kLinesEach) + L" " +
                test::QuoteArgument(gate),
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
        ASSERT_TRUE(HasStamp(line)) << "torn line: " << line;
        EXPECT_TRUE(seen.insert(line.substr(kStampLength)).second) << "twice: " << line;
    }
    EXPECT_EQ(static_cast<size_t>(kWriters * kLinesEach), seen.size());
    for (int w = 0; w < kWriters; ++w) {
        EXPECT_EQ(1u, seen.count("w" + std::to_string(w) + " " + std::to_string(kLinesEach)));
    }
    EXPECT_EQ("\r\n", text.substr(text.size() - 2));
}

}  // namespace
