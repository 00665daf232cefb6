// Times launcher starts under one warm wineserver (or on Windows itself): the
// floor, a program that only copies itself, starts the copy through the shell
// and has the copy start a trivial third process, against QuorlLaunch.exe in an
// installation without a pending update, whose loader starts the client.
//
//   launch_bench.exe FLOOR_EXE LAUNCHER_EXE [RUNS]
//
// Each start is timed from CreateProcess until the second process (the floor's
// copy, the loader) has ended. The first process is put in a job object of its
// own before it runs; its children inherit the job, and the job's completion
// port reports each process the moment it is created. The driver opens the
// second process then and waits on its handle: no polling, no name lookups.
// One that has ended before it could be opened is timed by the job's report
// of its end instead; the output says how often that happened.
#include <windows.h>

#include <algorithm>
#include <cstdio>
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
// The floor's third process: one that ends at once.
const wchar_t kThirdParameters[] = L" 1 0 loader client";
const char kLoaderEndLine[] = "exit Quorl Loader";

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

bool FileSize(const std::wstring& path, ULONGLONG& size) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// How many lines of the log end a loader: read after each run, outside the
// timed span, to show that every timed launcher start went the whole road.
size_t CountLoaderEnds(const std::wstring& logPath) {
    CScopedKernelHandle file(::CreateFileW(logPath.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        return 0;
    }
    std::string text;
    char block[65536];
    DWORD read = 0;
    while (::ReadFile(file.Get(), block, sizeof block, &read, nullptr) && read > 0) {
        text.append(block, read);
    }
    size_t count = 0;
    for (std::string::size_type at = text.find(kLoaderEndLine); at != std::string::npos;
         at = text.find(kLoaderEndLine, at + 1)) {
        ++count;
    }
    return count;
}

// Starts the command line suspended, so that it is in the job before its
// first instruction, and its children with it. Without standard handles, as
// from the desktop: the launcher's log lines would otherwise reach our output.
bool StartSuspended(const std::wstring& commandLine, const std::wstring& workDir,
                    PROCESS_INFORMATION& started) {
    std::wstring mutableLine = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    started = {};
    return ::CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                            nullptr, workDir.c_str(), &startup, &started) != FALSE;
}

struct JobRun {
    double ms = 0;          // until the process's handle was signalled
    double reportMs = 0;    // until the job reported its end
    bool byHandle = false;  // false: it ended before we could open it
    // From the system's own records of both processes: how long the first ran
    // before the second was created, and how long the second lived.
    double firstUntilSecondMs = 0;
    double secondLifeMs = 0;
};

double FileTimeMs(const FILETIME& from, const FILETIME& to) {
    const auto ticks = [](const FILETIME& t) {
        return static_cast<LONGLONG>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                     t.dwLowDateTime);
    };
    return static_cast<double>(ticks(to) - ticks(from)) / 10000.0;
}

void RecordPhases(HANDLE first, HANDLE second, JobRun& run) {
    FILETIME created1, exited1, created2, exited2, kernel, user;
    if (first != second && ::GetProcessTimes(first, &created1, &exited1, &kernel, &user) &&
        ::GetProcessTimes(second, &created2, &exited2, &kernel, &user)) {
        run.firstUntilSecondMs = FileTimeMs(created1, created2);
        run.secondLifeMs = FileTimeMs(created2, exited2);
    }
}

class CJobWatch {
public:
    bool Open() {
        m_job.Reset(::CreateJobObjectW(nullptr, nullptr));
        m_port.Reset(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
        if (!m_job.IsValid() || !m_port.IsValid()) {
            return false;
        }
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
        association.CompletionKey = m_job.Get();
        association.CompletionPort = m_port.Get();
        return ::SetInformationJobObject(m_job.Get(), JobObjectAssociateCompletionPortInformation,
                                         &association, sizeof association) != FALSE;
    }
    HANDLE Job() const { return m_job.Get(); }

    // The next report about a process: false at the deadline.
    bool Next(ULONGLONG deadline, DWORD& message, DWORD& processId) {
        const ULONGLONG now = ::GetTickCount64();
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        if (now >= deadline || !::GetQueuedCompletionStatus(m_port.Get(), &message, &key, &detail,
                                                            static_cast<DWORD>(deadline - now))) {
            return false;
        }
        processId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(detail));
        return true;
    }

private:
    CScopedKernelHandle m_job;
    CScopedKernelHandle m_port;
};

bool IsExitReport(DWORD message) {
    return message == JOB_OBJECT_MSG_EXIT_PROCESS ||
           message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS;
}

bool WaitUntil(HANDLE process, ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    return now < deadline &&
           ::WaitForSingleObject(process, static_cast<DWORD>(deadline - now)) == WAIT_OBJECT_0;
}

// From CreateProcess until process number `stopAt` of the job (1: the one
// started, 2: the first one it started) has ended. The job reports the new
// process at once, and its handle is waited for from then on; the job's own
// report of its end is kept only to show how late it comes. Returns once every
// process of the job has ended, so that runs never overlap.
bool TimeJobRun(const CClock& clock, const std::wstring& commandLine, const std::wstring& workDir,
                size_t stopAt, JobRun& run) {
    CJobWatch watch;
    if (!watch.Open()) {
        return false;
    }
    ::Sleep(kSettleMs);
    const ULONGLONG deadline = ::GetTickCount64() + kRunTimeoutMs;
    const LONGLONG start = clock.Now();
    PROCESS_INFORMATION info;
    if (!StartSuspended(commandLine, workDir, info)) {
        return false;
    }
    CScopedKernelHandle process(info.hProcess);
    CScopedKernelHandle thread(info.hThread);
    if (!::AssignProcessToJobObject(watch.Job(), process.Get())) {
        ::TerminateProcess(process.Get(), 1);
        return false;
    }
    ::ResumeThread(thread.Get());

    size_t joined = 0;
    DWORD targetId = 0;
    CScopedKernelHandle target;
    DWORD message = 0;
    DWORD processId = 0;
    while (targetId == 0) {
        if (!watch.Next(deadline, message, processId)) {
            return false;
        }
        if (message == JOB_OBJECT_MSG_NEW_PROCESS && ++joined == stopAt) {
            targetId = processId;
        }
    }
    if (stopAt > 1) {
        target.Reset(
            ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, targetId));
    }
    const HANDLE waitOn = stopAt > 1 ? target.Get() : process.Get();
    run.byHandle = waitOn != nullptr;
    LONGLONG stop = 0;
    if (run.byHandle) {
        if (!WaitUntil(waitOn, deadline)) {
            return false;
        }
        stop = clock.Now();
    }
    for (;;) {
        if (!watch.Next(deadline, message, processId)) {
            return false;
        }
        if (IsExitReport(message) && processId == targetId) {
            break;
        }
    }
    const LONGLONG reported = clock.Now();
    run.ms = clock.Ms(start, run.byHandle ? stop : reported);
    run.reportMs = clock.Ms(start, reported);
    // The third process (the client, the floor's trivial one) outlives the
    // span; the next start waits until the whole job has ended.
    while (message != JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
        if (!watch.Next(deadline, message, processId)) {
            return false;
        }
    }
    if (run.byHandle) {
        RecordPhases(process.Get(), waitOn, run);
    }
    return true;
}

// The same span for a single process, waited for on its own handle: the
// reference that shows what the job's reports add to a measurement.
bool TimeHandleRun(const CClock& clock, const std::wstring& commandLine,
                   const std::wstring& workDir, double& ms) {
    ::Sleep(kSettleMs);
    const LONGLONG start = clock.Now();
    PROCESS_INFORMATION info;
    if (!StartSuspended(commandLine, workDir, info)) {
        return false;
    }
    CScopedKernelHandle process(info.hProcess);
    CScopedKernelHandle thread(info.hThread);
    ::ResumeThread(thread.Get());
    if (::WaitForSingleObject(process.Get(), kRunTimeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.Get(), 1);
        return false;
    }
    ms = clock.Ms(start, clock.Now());
    return true;
}

void PrintRow(const char* name, const Summary& s) {
    std::printf("%-36s %8.1f %8.1f %8.1f\n", name, s.min, s.median, s.max);
}

struct Series {
    std::vector<double> ms;
    std::vector<double> reportLagMs;
    std::vector<double> firstUntilSecondMs;
    std::vector<double> secondLifeMs;
    int byHandle = 0;
    int failed = 0;

    void Add(const JobRun& run) {
        ms.push_back(run.ms);
        reportLagMs.push_back(run.reportMs - run.ms);
        byHandle += run.byHandle ? 1 : 0;
        if (run.byHandle) {
            firstUntilSecondMs.push_back(run.firstUntilSecondMs);
            secondLifeMs.push_back(run.secondLifeMs);
        }
    }
};

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: launch_bench FLOOR_EXE LAUNCHER_EXE [RUNS >= %d]\n", kMinRuns);
        return 2;
    }
    const std::wstring floorExe = FullPath(argv[1]);
    const std::wstring launcherExe = FullPath(argv[2]);
    const int runs = argc > 3 ? std::max(kMinRuns, _wtoi(argv[3])) : kDefaultRuns;
    const std::wstring floorDir = DirectoryOf(floorExe);
    const std::wstring appDir = DirectoryOf(launcherExe);
    const std::wstring logPath = appDir + L"\\logs\\SimpleLogger.log";
    const std::wstring floorLine = Quoted(floorExe);
    const std::wstring launcherLine = Quoted(launcherExe);
    const std::wstring singleLine = Quoted(floorExe) + kThirdParameters;

    ULONGLONG launcherSize = 0;
    ULONGLONG floorSize = 0;
    if (!FileSize(launcherExe, launcherSize) || !FileSize(floorExe, floorSize)) {
        std::fprintf(stderr, "launch_bench: floor or launcher executable not found\n");
        return 2;
    }

    std::printf("Launch benchmark: %d timed starts of each after one warm-up start\n", runs);
    std::fflush(stdout);
    const CClock clock;
    JobRun run;
    double ms = 0;
    // The warm-up pays for what only a first start pays: the desktop process,
    // the page cache, the first copies of the files.
    if (!TimeJobRun(clock, floorLine, floorDir, 2, run) ||
        !TimeJobRun(clock, launcherLine, appDir, 2, run) ||
        !TimeHandleRun(clock, singleLine, floorDir, ms)) {
        std::fprintf(stderr, "launch_bench: the warm-up start failed\n");
        return 1;
    }

    Series floor, launcher, single;
    std::vector<double> plainMs;
    size_t loaderEnds = CountLoaderEnds(logPath);
    // Interleaved, so that a slow phase of the machine hits every series alike.
    for (int i = 0; i < runs; ++i) {
        if (TimeJobRun(clock, floorLine, floorDir, 2, run)) {
            floor.Add(run);
        } else {
            ++floor.failed;
        }
        const bool timed = TimeJobRun(clock, launcherLine, appDir, 2, run);
        const size_t ends = CountLoaderEnds(logPath);
        if (timed && ends == loaderEnds + 1) {
            launcher.Add(run);
        } else {
            ++launcher.failed;
        }
        loaderEnds = ends;
        if (TimeHandleRun(clock, singleLine, floorDir, ms)) {
            plainMs.push_back(ms);
        }
        if (TimeJobRun(clock, singleLine, floorDir, 1, run)) {
            single.Add(run);
        }
    }

    const Summary floorSummary = Summarise(floor.ms);
    const Summary launcherSummary = Summarise(launcher.ms);
    std::printf("\n%-36s %8s %8s %8s\n", "start until the second process ended", "min ms", "median",
                "max");
    PrintRow("floor (copy, ShellExecuteW, 3rd)", floorSummary);
    PrintRow("QuorlLaunch.exe until loader ended", launcherSummary);
    std::printf("ratio of medians (launcher / floor): %.3f (target: at most 1.10)\n",
                launcherSummary.median / floorSummary.median);
    std::printf("QuorlLaunch.exe size: %llu bytes (floor: %llu bytes)\n", launcherSize, floorSize);
    std::printf(
        "failed starts: floor %d, launcher %d (a launcher start counts only when the\n"
        "  loader logged \"%s\" once more)\n",
        floor.failed, launcher.failed, kLoaderEndLine);
    std::printf("\nWhere the time goes (median ms, from the system's process times):\n");
    std::printf(
        "  first process, from its creation until it created the second: floor %6.1f,"
        " launcher %6.1f\n",
        Summarise(floor.firstUntilSecondMs).median, Summarise(launcher.firstUntilSecondMs).median);
    std::printf(
        "  second process, from its creation until it ended:             floor %6.1f,"
        " loader   %6.1f\n",
        Summarise(floor.secondLifeMs).median, Summarise(launcher.secondLifeMs).median);
    std::printf(
        "\nHow the end is seen: the job reports each new process; its handle is waited\n"
        "for from then on (%d of %zu floor and %d of %zu launcher starts; the others\n"
        "had ended already and took the job's later report of the end).\n",
        floor.byHandle, floor.ms.size(), launcher.byHandle, launcher.ms.size());
    std::printf("What the method costs, one process that ends at once (median ms):\n");
    std::printf("  no job, waited on the handle from CreateProcess: %6.1f\n",
                Summarise(plainMs).median);
    std::printf("  in a job, waited on the handle:                  %6.1f\n",
                Summarise(single.ms).median);
    std::printf("  the job's end report came after the handle by:   %6.1f (not used)\n",
                Summarise(single.reportLagMs).median);
    return floor.failed == 0 && launcher.failed == 0 ? 0 : 1;
}
