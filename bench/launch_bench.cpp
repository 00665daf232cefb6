// Times launcher starts as the desktop starts a program (CreateProcessW,
// DETACHED_PROCESS, no standard handles), under one warm wineserver or on
// Windows itself, in rounds that interleave three series: the floor, the least
// a launcher of this shape can do; the required floor, the floor with the
// launcher's required work added in plain C; QuorlLaunch.exe in an
// installation without a pending update, whose loader starts the client.
//
//   launch_bench.exe FLOOR_EXE REQUIRED_FLOOR_EXE LAUNCHER_EXE [RUNS]
//
// A start is timed until the line its last process writes last has reached its
// file ("exit floor" in the floor's log, "exit Quorl Loader" in the
// launcher's), seen by a change notification for the file's directory or, in
// case one is missed, by a look at the file's size every kPollMs.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
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
// What the driver is woken for in the log's directory.
constexpr DWORD kChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

// The performance counter's reading in milliseconds.
double NowMs() {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct Summary {
    double min, median, max;
};

// Zeros for no samples.
Summary Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? Summary{0, 0, 0}
                  : Summary{v.front(), (v[(n - 1) / 2] + v[n / 2]) / 2, v.back()};
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
    return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)
               ? (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow
               : 0;
}

bool WaitUntil(HANDLE process, ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    return now < deadline &&
           ::WaitForSingleObject(process, static_cast<DWORD>(deadline - now)) == WAIT_OBJECT_0;
}

// Whether a process is one that a start of some series runs.
bool IsOurs(const wchar_t* exe) {
    return ::_wcsnicmp(exe, L"launch_floor", 12) == 0 || ::_wcsnicmp(exe, L"Quorl", 5) == 0 ||
           ::lstrcmpiW(exe, L"floor_end.exe") == 0;
}

// Outside the timed span: waits until no process of the start runs any more.
// The desktop gives its starts no job, so they are found by name.
bool WaitForPrograms(ULONGLONG deadline) {
    for (;;) {
        CScopedKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        BOOL more = snapshot.IsValid() && ::Process32FirstW(snapshot.Get(), &entry);
        while (more && !IsOurs(entry.szExeFile)) {
            more = ::Process32NextW(snapshot.Get(), &entry);
        }
        if (!more) {
            return snapshot.IsValid();
        }
        CScopedKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process.IsValid() && !WaitUntil(process.Get(), deadline)) {
            return false;
        }
    }
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
          log(DirectoryOf(exe) + logName),
          endLine(line),
          notification(::FindFirstChangeNotificationW(DirectoryOf(log).c_str(), FALSE, kChanges)) {}

    const char* name;
    std::wstring exe;
    std::wstring log;
    const char* endLine;
    CScopedHandle<ChangeNotificationTraits> notification;
    ULONGLONG mark = 0;  // the log's size before the start: only what follows counts
    ULONGLONG seen = 0;  // its size when it was last read
    std::vector<double> ms;
    int byNotification = 0;  // ends seen by the notification rather than the poll
    int failed = 0;
};

// Whether the end line has been written since the mark.
bool HasEndLine(Series& series) {
    const ULONGLONG size = FileSize(series.log);
    if (size < series.mark) {
        series.mark = 0;  // discarded and begun anew
    }
    if (size == series.seen) {
        return false;
    }
    series.seen = size;
    CScopedKernelHandle file(::CreateFileW(series.log.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER offset = {};
    offset.QuadPart = static_cast<LONGLONG>(series.mark);
    std::string text;
    char block[65536];
    DWORD read = 0;
    if (file.IsValid() && ::SetFilePointerEx(file.Get(), offset, nullptr, FILE_BEGIN)) {
        while (::ReadFile(file.Get(), block, sizeof block, &read, nullptr) && read > 0) {
            text.append(block, read);
        }
    }
    return text.find(series.endLine) != std::string::npos;
}

// From CreateProcessW until the end line appears; the warm-up's start is not
// kept. Returns once every process of the start has ended, so that starts
// never overlap.
bool TimeStart(Series& series, bool keep) {
    ::Sleep(kSettleMs);
    series.mark = series.seen = FileSize(series.log);
    std::wstring commandLine = L"\"" + series.exe + L"\"";
    const std::wstring directory = DirectoryOf(series.exe);
    // As the desktop starts a program: no console, no standard handles. With a
    // console, Wine spends time on every line the launcher writes to its
    // standard output, which no start from the desktop pays.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION started = {};
    const ULONGLONG deadline = ::GetTickCount64() + kRunTimeoutMs;
    const double start = NowMs();
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS,
                          nullptr, directory.c_str(), &startup, &started)) {
        return false;
    }
    CScopedKernelHandle process(started.hProcess);
    CScopedKernelHandle thread(started.hThread);
    bool seen = false;
    DWORD wait = WAIT_TIMEOUT;
    while (!seen && ::GetTickCount64() < deadline) {
        wait = ::WaitForSingleObject(series.notification.Get(), kPollMs);
        if (wait == WAIT_OBJECT_0) {
            ::FindNextChangeNotification(series.notification.Get());
        }
        seen = HasEndLine(series);
    }
    const double stop = NowMs();
    if (!WaitUntil(process.Get(), deadline) || !WaitForPrograms(deadline) || !seen) {
        return false;
    }
    if (keep) {
        series.ms.push_back(stop - start);
        series.byNotification += wait == WAIT_OBJECT_0 ? 1 : 0;
    }
    return true;
}

enum { kFloor, kRequiredFloor, kLauncher, kSeriesCount };

void PrintTable(const Series (&series)[kSeriesCount]) {
    std::printf("\n%-38s %8s %8s %8s %9s %6s\n", "as the desktop starts it, until", "min ms",
                "median", "max", "notified", "failed");
    for (const Series& row : series) {
        const Summary s = Summarise(row.ms);
        std::printf("%-38s %8.1f %8.1f %8.1f %5d/%-3zu %6d\n", row.name, s.min, s.median, s.max,
                    row.byNotification, row.ms.size(), row.failed);
    }
    const auto median = [&](int row) { return Summarise(series[row].ms).median; };
    std::printf(
        "ratio of medians (launcher / floor): %.3f (target: at most 1.10)\n"
        "  the required work alone: %.3f (required floor / floor)\n"
        "  left to cut: %.3f (launcher / required floor)\n",
        median(kLauncher) / median(kFloor), median(kRequiredFloor) / median(kFloor),
        median(kLauncher) / median(kRequiredFloor));
    std::printf("QuorlLaunch.exe size: %llu bytes (floor: %llu bytes)\n",
                FileSize(series[kLauncher].exe), FileSize(series[kFloor].exe));
    std::printf("notified: ends seen by the change notification, the others by the %lu ms poll\n",
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
    int failed = 0;
    for (int round = 0; round <= runs; ++round) {
        for (Series& row : series) {
            if (!TimeStart(row, round > 0)) {
                if (round == 0) {
                    std::fprintf(stderr, "launch_bench: the warm-up start failed\n");
                    return 1;
                }
                ++row.failed;
                ++failed;
            }
        }
    }
    PrintTable(series);
    return failed == 0 ? 0 : 1;
}
