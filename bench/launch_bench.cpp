// Times launcher starts under one warm wineserver (or on Windows itself), as
// the desktop starts a program: from a parent with CreateProcessW,
// DETACHED_PROCESS and no standard handles. It compares the floor, the least a
// launcher of this shape can do, with QuorlLaunch.exe in an installation
// without a pending update, whose loader starts the client.
//
//   launch_bench.exe FLOOR_EXE REQUIRED_FLOOR_EXE LAUNCHER_EXE [RUNS]
//
// The required floor is the floor with the launcher's required work added in
// plain C: its ratio to the floor is the least that any launcher doing that
// work could reach, and the launcher's ratio to it is what is left to cut.
//
// A start is timed from CreateProcessW until the last process's work is
// visible: the line that process writes last has reached its file ("exit Quorl
// Loader" in the launcher's log, "exit floor" in the floor's). The driver
// waits on a change notification for the file's directory and, in case one is
// missed, looks at the file's size every kPollMs as well. The floor's line
// carries the performance counter's reading as it was written, which shows how
// late the driver sees a line.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/scoped_handle.h"

namespace {

constexpr int kDefaultRuns = 30;
constexpr int kMinRuns = 10;
constexpr DWORD kRunTimeoutMs = 30000;
// Outside every timed span: under Wine a process's handle is signalled before
// its host process has finished tearing down, and a start that overlaps that
// teardown pays for it.
constexpr DWORD kSettleMs = 150;
// How often the log's size is looked at besides the change notification, in
// case one is missed. Seldom: a driver that wakes every millisecond or two
// competes with the start it times for the wineserver.
constexpr DWORD kPollMs = 20;
// Every process of every series; the next start waits until none of them runs.
const wchar_t* const kPrograms[] = {L"launch_floor.exe",
                                    L"launch_floor_copy.exe",
                                    L"launch_floor_required.exe",
                                    L"launch_floor_required_copy.exe",
                                    L"floor_end.exe",
                                    L"QuorlLaunch.exe",
                                    L"QuorlLoader.exe",
                                    L"Quorl.exe"};

LONGLONG Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Ms(LONGLONG from, LONGLONG to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to - from) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct Summary {
    double min = 0;
    double median = 0;
    double max = 0;
};

Summary Summarise(std::vector<double> samples) {
    Summary summary;
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        const size_t n = samples.size();
        summary.min = samples.front();
        summary.max = samples.back();
        summary.median = n % 2 != 0 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    }
    return summary;
}

std::wstring DirectoryOf(const std::wstring& path) {
    const std::wstring::size_type slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

std::wstring FullPath(const wchar_t* path) {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetFullPathNameW(path, MAX_PATH, buffer, nullptr);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring(path);
}

// Zero for a file that does not exist (yet).
ULONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// What the file holds from byte `from` on; empty when it cannot be read.
std::string ReadFrom(const std::wstring& path, ULONGLONG from) {
    CScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER offset = {};
    offset.QuadPart = static_cast<LONGLONG>(from);
    std::string text;
    if (!file.IsValid() || !::SetFilePointerEx(file.Get(), offset, nullptr, FILE_BEGIN)) {
        return text;
    }
    char block[65536];
    DWORD read = 0;
    while (::ReadFile(file.Get(), block, sizeof block, &read, nullptr) && read > 0) {
        text.append(block, read);
    }
    return text;
}

bool WaitUntil(HANDLE process, ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    return now < deadline &&
           ::WaitForSingleObject(process, static_cast<DWORD>(deadline - now)) == WAIT_OBJECT_0;
}

// Outside the timed span: waits until no process of the start runs any more.
// The desktop gives its starts no job, so they are found by name.
bool WaitForPrograms(ULONGLONG deadline) {
    for (bool found = true; found;) {
        CScopedKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot.IsValid()) {
            return false;
        }
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        found = false;
        for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
             more = ::Process32NextW(snapshot.Get(), &entry)) {
            if (std::none_of(std::begin(kPrograms), std::end(kPrograms), [&](const wchar_t* name) {
                    return ::lstrcmpiW(entry.szExeFile, name) == 0;
                })) {
                continue;
            }
            found = true;
            CScopedKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
            if (process.IsValid() && !WaitUntil(process.Get(), deadline)) {
                return false;
            }
        }
    }
    return true;
}

// Not a kernel handle to close: it has a closing call of its own.
struct ChangeNotificationTraits : KernelHandleTraits {
    static void Close(Handle handle) noexcept { ::FindCloseChangeNotification(handle); }
};

// One row of the table: a program, the line that ends its start in the file
// it is written to, and the starts timed so far.
struct Series {
    Series(const char* label, const wchar_t* program, const wchar_t* logName, const char* line)
        : name(label),
          exe(FullPath(program)),
          dir(DirectoryOf(exe)),
          log(dir + logName),
          endLine(line) {}

    const char* name;
    std::wstring exe;
    std::wstring dir;
    std::wstring log;
    const char* endLine;
    CScopedHandle<ChangeNotificationTraits> notification;
    ULONGLONG mark = 0;  // the log's size before the start: only what follows counts
    ULONGLONG seen = 0;  // its size when it was last read
    std::vector<double> ms;
    std::vector<double> lateMs;  // how long after it was written the line was seen
    int byNotification = 0;      // ends seen by the notification rather than the poll
    int failed = 0;
};

// The performance counter's reading that the end line carries (0 for none), or
// -1 while the line has not been written since the mark.
LONGLONG FindEndLine(Series& series) {
    const ULONGLONG size = FileSize(series.log);
    if (size < series.mark) {
        // Discarded and begun anew.
        series.mark = 0;
    }
    if (size == series.seen) {
        return -1;
    }
    series.seen = size;
    const std::string text = ReadFrom(series.log, series.mark);
    const std::string::size_type at = text.find(series.endLine);
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtoll(text.c_str() + at + std::strlen(series.endLine), nullptr, 10);
}

// From CreateProcessW until the end line appears; the warm-up's start is not
// kept. Returns once every process of the start has ended, so that starts
// never overlap.
bool TimeStart(Series& series, bool keep) {
    ::Sleep(kSettleMs);
    series.mark = series.seen = FileSize(series.log);
    std::wstring commandLine = L"\"" + series.exe + L"\"";
    // As the desktop starts a program: no console, no standard handles. With a
    // console, Wine spends time on every line the launcher writes to its
    // standard output, which no start from the desktop pays.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION started = {};
    const ULONGLONG deadline = ::GetTickCount64() + kRunTimeoutMs;
    const LONGLONG start = Now();
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS,
                          nullptr, series.dir.c_str(), &startup, &started)) {
        return false;
    }
    CScopedKernelHandle process(started.hProcess);
    CScopedKernelHandle thread(started.hThread);
    LONGLONG stamp = -1;
    DWORD wait = WAIT_TIMEOUT;
    while (stamp < 0 && ::GetTickCount64() < deadline) {
        wait = ::WaitForSingleObject(series.notification.Get(), kPollMs);
        if (wait == WAIT_OBJECT_0) {
            ::FindNextChangeNotification(series.notification.Get());
        }
        stamp = FindEndLine(series);
    }
    const LONGLONG stop = Now();
    if (!WaitUntil(process.Get(), deadline) || !WaitForPrograms(deadline) || stamp < 0) {
        return false;
    }
    if (keep) {
        series.ms.push_back(Ms(start, stop));
        series.lateMs.push_back(stamp > 0 ? Ms(stamp, stop) : 0);
        series.byNotification += wait == WAIT_OBJECT_0 ? 1 : 0;
    }
    return true;
}

enum { kFloor, kRequiredFloor, kLauncher, kSeriesCount };

void PrintTable(const Series (&series)[kSeriesCount]) {
    std::printf("\n%-38s %8s %8s %8s %9s %6s %10s\n", "as the desktop starts it, until", "min ms",
                "median", "max", "notified", "failed", "late ms");
    for (const Series& row : series) {
        const Summary s = Summarise(row.ms);
        const Summary late = Summarise(row.lateMs);
        std::printf("%-38s %8.1f %8.1f %8.1f %5d/%-3zu %6d", row.name, s.min, s.median, s.max,
                    row.byNotification, row.ms.size(), row.failed);
        if (late.max > 0) {
            std::printf(" %5.2f/%.2f\n", late.median, late.max);
        } else {
            std::printf(" %10s\n", "-");
        }
    }
    const double floor = Summarise(series[kFloor].ms).median;
    const double required = Summarise(series[kRequiredFloor].ms).median;
    const double launcher = Summarise(series[kLauncher].ms).median;
    std::printf(
        "ratio of medians (launcher / floor): %.3f (target: at most 1.10)\n"
        "  the required work alone: %.3f (required floor / floor)\n"
        "  left to cut: %.3f (launcher / required floor)\n",
        launcher / floor, required / floor, launcher / required);
    std::printf("QuorlLaunch.exe size: %llu bytes (floor: %llu bytes)\n",
                FileSize(series[kLauncher].exe), FileSize(series[kFloor].exe));
    std::printf(
        "notified: ends seen by the change notification, the others by the size poll (every\n"
        "%lu ms); late: how long after the floor's line was written it was seen (median/max)\n",
        static_cast<unsigned long>(kPollMs));
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: launch_bench FLOOR_EXE REQUIRED_FLOOR_EXE LAUNCHER_EXE [RUNS >= %d]\n",
                     kMinRuns);
        return 2;
    }
    Series series[kSeriesCount] = {
        {"floor: \"exit floor\" written", argv[1], L"\\logs\\floor.log", "exit floor"},
        {"required floor: \"exit floor\" written", argv[2], L"\\logs\\floor.log", "exit floor"},
        {"QuorlLaunch.exe: \"exit Quorl Loader\"", argv[3], L"\\logs\\SimpleLogger.log",
         "exit Quorl Loader"}};
    const int runs = argc > 4 ? std::max(kMinRuns, _wtoi(argv[4])) : kDefaultRuns;
    for (Series& row : series) {
        row.notification.Reset(::FindFirstChangeNotificationW(DirectoryOf(row.log).c_str(), FALSE,
                                                              FILE_NOTIFY_CHANGE_FILE_NAME |
                                                                  FILE_NOTIFY_CHANGE_SIZE |
                                                                  FILE_NOTIFY_CHANGE_LAST_WRITE));
        if (FileSize(row.exe) == 0 || !row.notification.IsValid()) {
            std::fprintf(stderr, "launch_bench: %ls is missing or its logs cannot be watched\n",
                         row.exe.c_str());
            return 2;
        }
    }

    std::printf("Launch benchmark: %d timed starts of each after one warm-up start\n", runs);
    std::fflush(stdout);
    // Round 0 is the warm-up, which pays for what only a first start pays: the
    // desktop process, the page cache, the first copies of the files. The
    // rounds interleave the series, so that a slow phase of the machine hits
    // every series alike.
    for (int round = 0; round <= runs; ++round) {
        for (Series& row : series) {
            if (!TimeStart(row, round > 0)) {
                if (round == 0) {
                    std::fprintf(stderr, "launch_bench: the warm-up start failed\n");
                    return 1;
                }
                ++row.failed;
            }
        }
    }
    PrintTable(series);
    return std::all_of(std::begin(series), std::end(series),
                       [](const Series& row) { return row.failed == 0; })
               ? 0
               : 1;
}
