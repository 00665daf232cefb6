#include "logging/simple_logger.h"

#include <windows.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <ctime>
#include <memory>

namespace {

const char kLogPath[] = "logs\\SimpleLogger.log";
constexpr __int64 kMaxKeptLogSize = 1048576;
const char kStampFormat[] = "[%Y.%m.%d %X]:";

// Destroyed at normal process end, which closes the log file. Not const: the
// one logger is made on first use.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
std::unique_ptr<CSimpleLogger> g_instance;

void RemoveOversizedLog() {
    struct _stat64i32 status = {};
    if (_stat64i32(kLogPath, &status) == 0 && status.st_size > kMaxKeptLogSize) {
        std::remove(kLogPath);  // held by another process: a later start removes it
    }
}

std::string FormatStamp() {
    const __time64_t now = _time64(nullptr);
    char stamp[64] = {};
    if (const struct tm* local = _localtime64(&now)) {
        std::strftime(stamp, sizeof stamp, kStampFormat, local);  // 22 characters always fit
    }
    return stamp;
}

// The file is binary at the handle level; store line ends as a text-mode
// stream would, CR LF for every line feed.
std::string ToFileText(const std::string& line) {
    std::string text;
    text.reserve(line.size() + 2);
    for (char c : line) {
        if (c == '\n') {
            text += '\r';
        }
        text += c;
    }
    return text;
}

// Serialises seek-to-end and write across every process appending to the
// file: without it, concurrent appends lose and tear lines. Where it cannot be
// taken, the line is written unlocked all the same rather than lost.
class CWholeFileLock {
public:
    explicit CWholeFileLock(HANDLE file)
        : m_file(file),
          m_locked(::LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD,
                                &m_overlapped) != FALSE) {}
    ~CWholeFileLock() {
        if (m_locked) {
            ::UnlockFileEx(m_file, 0, MAXDWORD, MAXDWORD, &m_overlapped);  // ours to unlock
        }
    }
    CWholeFileLock(const CWholeFileLock&) = delete;
    CWholeFileLock& operator=(const CWholeFileLock&) = delete;

private:
    HANDLE m_file;
    // Before m_locked: the lock call in the constructor uses it.
    OVERLAPPED m_overlapped = {};
    bool m_locked;
};

}  // namespace

CSimpleLogger* CSimpleLogger::GetInstance() {
    if (!g_instance) {
        g_instance.reset(new CSimpleLogger());
    }
    return g_instance.get();
}

CSimpleLogger::CSimpleLogger() {
    RemoveOversizedLog();
    // Others may read and append meanwhile, but not delete: a process that
    // found the log oversized would otherwise take it away from under a
    // process still writing to it, and those lines would be lost.
    m_file.Reset(::CreateFileA(kLogPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

CSimpleLogger::~CSimpleLogger() = default;

void CSimpleLogger::Log(const char* message) {
    const std::string line = FormatStamp() + (message ? message : "") + '\n';
    AppendToFile(ToFileText(line));
    std::fwrite(line.data(), 1, line.size(), stdout);  // without a console or redirect, for nobody
    std::fflush(stdout);                               // to read: no failure worth telling
}

void CSimpleLogger::AppendToFile(const std::string& text) {
    if (!m_file.IsValid()) {
        return;
    }
    CWholeFileLock lock(m_file.Get());
    LARGE_INTEGER noMove = {};
    // Written at the end only, never over another process's lines; a failed
    // write (a full disk) costs the line in the file alone, with nowhere to say so.
    if (::SetFilePointerEx(m_file.Get(), noMove, nullptr, FILE_END)) {
        DWORD written = 0;
        ::WriteFile(m_file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}
