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
// missed, looks at the file's size every kPollMs as well; the output says how
// many ends each way saw. The floor's line carries the performance counter's
// reading as it was written, which shows how late the driver sees a line.
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
const char kLoaderEndLine[] = "exit Quorl Loader";
const char kFloorEndLine[] = "exit floor";
const wchar_t kFloorLog[] = L"\\logs\\floor.log";
const wchar_t kLauncherLog[] = L"\\logs\\SimpleLogger.log";
// Every process of a start; the next start waits until none of them runs.
const wchar_t* const kFloorPrograms[] = {L"launch_floor.exe", L"launch_floor_copy.exe",
                                         L"launch_floor_required.exe",
                                         L"launch_floor_required_copy.exe", L"floor_end.exe"};
const wchar_t* const kLauncherPrograms[] = {L"QuorlLaunch.exe", L"QuorlLoader.exe", L"Quorl.exe"};

class CClock {
public:
    CClock() { ::QueryPerformanceFrequency(&m_frequency); }
    LONGLONG Now() const {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        return now.QuadPart;
    }
    double Ms(LONGLONG from, LONGLONG to) const {
        return static_cast<double>(to - from) * 1000.0 / static_cast<double>(m_frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_frequency = {};
};

struct Summary {
    double min = 0;
    double median = 0;
    double max = 0;
};

Summary Summarise(std::vector<double> samples) {
    Summary summary;
    if (samples.empty()) {
        return summary;
    }
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    summary.min = samples.front();
    summary.max = samples.back();
    summary.median = n % 2 != 0 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    return summary;
}

double Median(const std::vector<double>& samples) {
    return Summarise(samples).median;
}

std::wstring DirectoryOf(const std::wstring& path) {
    const std::wstring::size_type slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
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

// Starts the command line as the desktop does: no console, no standard
// handles. With a console, Wine spends time on every line the launcher writes
// to its standard output, which no start from the desktop pays.
bool StartDetached(const std::wstring& commandLine, const std::wstring& workDir,
                   PROCESS_INFORMATION& started) {
    std::wstring mutableLine = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    started = {};
    return ::CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS,
                            nullptr, workDir.c_str(), &startup, &started) != FALSE;
}

bool WaitUntil(HANDLE process, ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    return now < deadline &&
           ::WaitForSingleObject(process, static_cast<DWORD>(deadline - now)) == WAIT_OBJECT_0;
}

// Outside the timed span: waits until no process of the start runs any more.
// The desktop gives its starts no job, so they are found by name.
template <size_t N>
bool WaitForPrograms(const wchar_t* const (&names)[N], ULONGLONG deadline) {
    for (;;) {
        CScopedKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot.IsValid()) {
            return false;
        }
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        bool found = false;
        for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
             more = ::Process32NextW(snapshot.Get(), &entry)) {
            const bool ours =
                std::any_of(std::begin(names), std::end(names),
                            [&](const wchar_t* n) { return ::lstrcmpiW(entry.szExeFile, n) == 0; });
            if (!ours) {
                continue;
            }
            found = true;
            CScopedKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
            if (process.IsValid() && !WaitUntil(process.Get(), deadline)) {
                return false;
            }
        }
        if (!found) {
            return true;
        }
    }
}

// Not a kernel handle to close: it has a closing call of its own.
struct ChangeNotificationTraits : KernelHandleTraits {
    static void Close(Handle handle) noexcept { ::FindCloseChangeNotification(handle); }
};

// Sees a line appear in a file that other processes append to.
class CLineWatch {
public:
    CLineWatch(std::wstring path, const char* line) : m_path(std::move(path)), m_line(line) {}

    bool Open() {
        m_notification.Reset(::FindFirstChangeNotificationW(DirectoryOf(m_path).c_str(), FALSE,
                                                            FILE_NOTIFY_CHANGE_FILE_NAME |
                                                                FILE_NOTIFY_CHANGE_SIZE |
                                                                FILE_NOTIFY_CHANGE_LAST_WRITE));
        return m_notification.IsValid();
    }

    // Before a start: only what is written after this counts.
    void Mark() {
        m_stamp = 0;
        m_mark = FileSize(m_path);
        m_seen = m_mark;
    }

    // The performance counter's reading that the line ends in, 0 for none.
    LONGLONG Stamp() const { return m_stamp; }

    // Until the line has been written once more since Mark(); false at the
    // deadline. `byNotification` tells whether a change notification or the
    // poll saw it first.
    bool Wait(ULONGLONG deadline, bool& byNotification) {
        for (;;) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) {
                return false;
            }
            const DWORD wait = ::WaitForSingleObject(m_notification.Get(), kPollMs);
            if (wait == WAIT_OBJECT_0) {
                ::FindNextChangeNotification(m_notification.Get());
            }
            if (HasLine()) {
                byNotification = wait == WAIT_OBJECT_0;
                return true;
            }
        }
    }

private:
    bool HasLine() {
        const ULONGLONG size = FileSize(m_path);
        if (size < m_mark) {
            // Discarded and begun anew.
            m_mark = 0;
        }
        if (size == m_seen) {
            return false;
        }
        m_seen = size;
        const std::string text = ReadFrom(m_path, m_mark);
        const std::string::size_type at = text.find(m_line);
        if (at == std::string::npos) {
            return false;
        }
        m_stamp = std::strtoll(text.c_str() + at + std::strlen(m_line), nullptr, 10);
        return true;
    }

    std::wstring m_path;
    const char* m_line;
    CScopedHandle<ChangeNotificationTraits> m_notification;
    ULONGLONG m_mark = 0;
    ULONGLONG m_seen = 0;
    LONGLONG m_stamp = 0;
};

struct DesktopRun {
    double ms = 0;
    bool byNotification = false;
    double lateMs = 0;  // how long after it was written the line was seen
};

// From CreateProcessW until the watched line appears. Returns once every
// process of the start has ended, so that starts never overlap.
template <size_t N>
bool TimeDesktopRun(const CClock& clock, const std::wstring& commandLine,
                    const std::wstring& workDir, CLineWatch& watch,
                    const wchar_t* const (&programs)[N], DesktopRun& run) {
    ::Sleep(kSettleMs);
    watch.Mark();
    const ULONGLONG deadline = ::GetTickCount64() + kRunTimeoutMs;
    const LONGLONG start = clock.Now();
    PROCESS_INFORMATION info;
    if (!StartDetached(commandLine, workDir, info)) {
        return false;
    }
    CScopedKernelHandle process(info.hProcess);
    CScopedKernelHandle thread(info.hThread);
    const bool seen = watch.Wait(deadline, run.byNotification);
    const LONGLONG stop = clock.Now();
    run.ms = clock.Ms(start, stop);
    run.lateMs = watch.Stamp() != 0 ? clock.Ms(watch.Stamp(), stop) : 0;
    return WaitUntil(process.Get(), deadline) && WaitForPrograms(programs, deadline) && seen;
}

struct DesktopSeries {
    std::vector<double> ms;
    std::vector<double> lateMs;
    int byNotification = 0;
    int failed = 0;

    void Add(bool timed, const DesktopRun& run) {
        if (!timed) {
            ++failed;
            return;
        }
        ms.push_back(run.ms);
        lateMs.push_back(run.lateMs);
        byNotification += run.byNotification ? 1 : 0;
    }
};

void PrintRow(const char* name, const std::vector<double>& samples) {
    const Summary s = Summarise(samples);
    std::printf("%-38s %8.1f %8.1f %8.1f\n", name, s.min, s.median, s.max);
}

struct Program {
    std::wstring exe;
    std::wstring dir;
    std::wstring line;
    ULONGLONG size = 0;

    explicit Program(const wchar_t* path)
        : exe(FullPath(path)), dir(DirectoryOf(exe)), line(Quoted(exe)), size(FileSize(exe)) {}
};

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: launch_bench FLOOR_EXE REQUIRED_FLOOR_EXE LAUNCHER_EXE [RUNS >= %d]\n",
                     kMinRuns);
        return 2;
    }
    const Program floor(argv[1]);
    const Program requiredFloor(argv[2]);
    const Program launcher(argv[3]);
    const int runs = argc > 4 ? std::max(kMinRuns, _wtoi(argv[4])) : kDefaultRuns;
    if (floor.size == 0 || requiredFloor.size == 0 || launcher.size == 0) {
        std::fprintf(stderr, "launch_bench: a floor or the launcher executable was not found\n");
        return 2;
    }
    CLineWatch floorWatch(floor.dir + kFloorLog, kFloorEndLine);
    CLineWatch requiredWatch(requiredFloor.dir + kFloorLog, kFloorEndLine);
    CLineWatch launcherWatch(launcher.dir + kLauncherLog, kLoaderEndLine);
    if (!floorWatch.Open() || !requiredWatch.Open() || !launcherWatch.Open()) {
        std::fprintf(stderr, "launch_bench: cannot watch the logs directories\n");
        return 2;
    }

    std::printf("Launch benchmark: %d timed starts of each after one warm-up start\n", runs);
    std::fflush(stdout);
    const CClock clock;
    DesktopRun desktopRun;
    // The warm-up pays for what only a first start pays: the desktop process,
    // the page cache, the first copies of the files.
    if (!TimeDesktopRun(clock, floor.line, floor.dir, floorWatch, kFloorPrograms, desktopRun) ||
        !TimeDesktopRun(clock, requiredFloor.line, requiredFloor.dir, requiredWatch, kFloorPrograms,
                        desktopRun) ||
        !TimeDesktopRun(clock, launcher.line, launcher.dir, launcherWatch, kLauncherPrograms,
                        desktopRun)) {
        std::fprintf(stderr, "launch_bench: the warm-up start failed\n");
        return 1;
    }

    DesktopSeries desktopFloor, desktopRequired, desktopLauncher;
    // Interleaved, so that a slow phase of the machine hits every series alike.
    for (int i = 0; i < runs; ++i) {
        desktopFloor.Add(
            TimeDesktopRun(clock, floor.line, floor.dir, floorWatch, kFloorPrograms, desktopRun),
            desktopRun);
        desktopRequired.Add(TimeDesktopRun(clock, requiredFloor.line, requiredFloor.dir,
                                           requiredWatch, kFloorPrograms, desktopRun),
                            desktopRun);
        desktopLauncher.Add(TimeDesktopRun(clock, launcher.line, launcher.dir, launcherWatch,
                                           kLauncherPrograms, desktopRun),
                            desktopRun);
    }

    std::printf("\n%-38s %8s %8s %8s\n", "as the desktop starts it, until", "min ms", "median",
                "max");
    PrintRow("floor: \"exit floor\" written", desktopFloor.ms);
    PrintRow("required floor: \"exit floor\" written", desktopRequired.ms);
    PrintRow("QuorlLaunch.exe: \"exit Quorl Loader\"", desktopLauncher.ms);
    std::printf("ratio of medians (launcher / floor): %.3f (target: at most 1.10)\n",
                Median(desktopLauncher.ms) / Median(desktopFloor.ms));
    std::printf(
        "  the required work alone: %.3f (required floor / floor)\n"
        "  left to cut: %.3f (launcher / required floor)\n",
        Median(desktopRequired.ms) / Median(desktopFloor.ms),
        Median(desktopLauncher.ms) / Median(desktopRequired.ms));
    std::printf("QuorlLaunch.exe size: %llu bytes (floor: %llu bytes)\n", launcher.size,
                floor.size);
    std::printf(
        "failed starts: floor %d, required floor %d, launcher %d; the end was seen\n"
        "  by the change notification in %d of %zu floor and %d of %zu launcher\n"
        "  starts, else by the size poll (every %lu ms)\n",
        desktopFloor.failed, desktopRequired.failed, desktopLauncher.failed,
        desktopFloor.byNotification, desktopFloor.ms.size(), desktopLauncher.byNotification,
        desktopLauncher.ms.size(), static_cast<unsigned long>(kPollMs));
    std::printf("  the floor's line was seen %.2f ms (median; at most %.2f) after it was written\n",
                Median(desktopFloor.lateMs), Summarise(desktopFloor.lateMs).max);

    const int failed = desktopFloor.failed + desktopRequired.failed + desktopLauncher.failed;
    return failed == 0 ? 0 : 1;
}
