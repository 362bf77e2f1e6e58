// Times the path from starting a launcher to the application's start, for
// several launchers side by side:
//   startup_bench FOLDER ROUNDS LAUNCHER_EXE...
// Each launcher starts in FOLDER (which holds ZEL\zel_acc.exe); its time ends
// when the stand-in application records its start. A round runs every
// launcher once, in an order that turns from round to round, so that a busy
// moment of the machine falls on all of them alike. Prints per launcher the
// medians of the wall time, the launcher's own CPU time and its peak working
// set; then the median of the per-round ratios of the last launcher to each
// other one; then, from the log the updater writes in FOLDER, the median time
// from its start to each event.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace {

double Now() {
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string ReadText(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text(1 << 16, '\0');
    DWORD read = 0;
    if (!file ||
        !ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr)) {
        return {};
    }
    text.resize(read);
    return text;
}

bool HasStartRecord(const std::wstring& record, DWORD& pid) {
    const std::string line = ReadText(record);
    if (line.find('\n') == std::string::npos) {
        return false;
    }
    const size_t first = line.find('\t');
    const size_t second = line.find('\t', first + 1);
    pid = static_cast<DWORD>(std::stoul(line.substr(second + 1)));
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Milliseconds since midnight, as the log writes its local times.
double LocalMs() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return ((now.wHour * 60.0 + now.wMinute) * 60.0 + now.wSecond) * 1000.0 + now.wMilliseconds;
}

// Each event of the log's lines, with its time after `startMs`; an event that
// comes more than once keeps its first time.
std::vector<std::pair<std::string, double>> LogEvents(const std::string& log, double startMs) {
    std::vector<std::pair<std::string, double>> events;
    size_t begin = 0;
    while (begin < log.size()) {
        const size_t end = std::min(log.find('\n', begin), log.size());
        const std::string line = log.substr(begin, end - begin);
        begin = end + 1;
        unsigned h = 0, m = 0, s = 0, ms = 0;
        char event[64] = {};
        if (std::sscanf(line.c_str(), "%*d-%*d-%*d %u:%u:%u.%u pid=%*u tid=%*u %63s", &h, &m, &s,
                        &ms, event) != 5) {
            continue;
        }
        const double at = ((h * 60.0 + m) * 60.0 + s) * 1000.0 + ms - startMs;
        if (std::none_of(events.begin(), events.end(),
                         [&](const auto& known) { return known.first == event; })) {
            events.emplace_back(event, at);
        }
    }
    return events;
}

struct Sample {
    double wallMs = 0;
    double cpuMs = 0;
    double peakMiB = 0;
};

// The process's CPU time as the system's process list gives it (Wine answers
// GetProcessTimes for another process with the caller's own times). Wine
// counts in the kernel's ticks of 10 ms.
double CpuMs(DWORD pid) {
    struct ProcessEntry {  // the documented start of SYSTEM_PROCESS_INFORMATION
        ULONG next;
        ULONG threads;
        LARGE_INTEGER unused[3];
        LARGE_INTEGER created, user, kernel;
        UNICODE_STRING image;
        LONG priority;
        HANDLE id;
    };
    static std::vector<char> list(1 << 20);
    ULONG length = 0;
    if (NtQuerySystemInformation(SystemProcessInformation, list.data(),
                                 static_cast<ULONG>(list.size()), &length) != 0) {
        return 0;
    }
    for (size_t at = 0;;) {
        const auto* entry = reinterpret_cast<const ProcessEntry*>(list.data() + at);
        if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->id)) == pid) {
            return static_cast<double>(entry->user.QuadPart + entry->kernel.QuadPart) / 10000.0;
        }
        if (entry->next == 0) {
            return 0;
        }
        at += entry->next;
    }
}

// The figures so far, taken while the process runs: once it has ended, the
// system no longer knows them.
void NoteFigures(HANDLE process, Sample& sample) {
    if (const double cpu = CpuMs(GetProcessId(process)); cpu > 0) {
        sample.cpuMs = cpu;
    }
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(process, &memory, sizeof(memory))) {
        sample.peakMiB =
            std::max(sample.peakMiB, static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0);
    }
}

bool RunOnce(const std::wstring& launcher, const std::wstring& folder, const std::wstring& record,
             Sample& sample, std::vector<std::pair<std::string, double>>& events) {
    DeleteFileW(record.c_str());
    const std::wstring log = folder + L"\\zel_updater.log";
    DeleteFileW(log.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + launcher + L"\"";
    const double localStart = LocalMs();
    const double start = Now();
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info)) {
        return false;
    }
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    DWORD appPid = 0;
    while (!HasStartRecord(record, appPid)) {
        NoteFigures(process.get(), sample);
        if (Now() - start > 30000) {
            return false;
        }
        Sleep(1);
    }
    sample.wallMs = Now() - start;
    while (WaitForSingleObject(process.get(), 1) == WAIT_TIMEOUT) {
        NoteFigures(process.get(), sample);
    }
    UniqueKernelHandle app(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, appPid));
    if (app) {
        TerminateProcess(app.get(), 0);
        WaitForSingleObject(app.get(), 5000);
    }
    events = LogEvents(ReadText(log), localStart);
    if (!events.empty()) {
        events.emplace_back("(application recorded its start)", sample.wallMs);
    }
    return true;
}

std::string Name(const std::wstring& path) {
    const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    return std::string(name.begin(), name.end());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fputs("usage: startup_bench FOLDER ROUNDS LAUNCHER_EXE...\n", stderr);
        return 2;
    }
    const std::wstring folder = argv[1];
    const int rounds = _wtoi(argv[2]);
    const std::vector<std::wstring> launchers(argv + 3, argv + argc);
    const size_t n = launchers.size();
    const std::wstring record = folder + L"\\starts.txt";
    SetEnvironmentVariableW(L"ZEL_APP_RECORD", record.c_str());
    std::vector<std::vector<Sample>> samples(n);
    std::map<std::string, std::vector<double>> eventTimes;
    std::vector<std::string> eventOrder;
    for (int round = 0; round < rounds; ++round) {
        for (size_t k = 0; k < n; ++k) {
            const size_t which = (round + k) % n;
            Sample sample;
            std::vector<std::pair<std::string, double>> events;
            if (!RunOnce(launchers[which], folder, record, sample, events)) {
                std::fprintf(stderr, "%s did not start the application\n",
                             Name(launchers[which]).c_str());
                return 1;
            }
            samples[which].push_back(sample);
            for (const auto& [event, at] : events) {
                if (eventTimes[event].empty()) {
                    eventOrder.push_back(event);
                }
                eventTimes[event].push_back(at);
            }
        }
    }
    std::printf("%-22s %10s %10s %10s\n", "launcher", "wall_ms", "cpu_ms", "peak_MiB");
    for (size_t i = 0; i < n; ++i) {
        std::vector<double> wall, cpu, peak;
        for (const Sample& s : samples[i]) {
            wall.push_back(s.wallMs), cpu.push_back(s.cpuMs), peak.push_back(s.peakMiB);
        }
        std::printf("%-22s %10.1f %10.1f %10.1f\n", Name(launchers[i]).c_str(), Median(wall),
                    Median(cpu), Median(peak));
    }
    for (size_t i = 0; i + 1 < n; ++i) {
        std::vector<double> wall, cpu;
        for (int round = 0; round < rounds; ++round) {
            const Sample& a = samples[n - 1][round];
            const Sample& b = samples[i][round];
            wall.push_back(a.wallMs / b.wallMs);
            cpu.push_back(b.cpuMs > 0 ? a.cpuMs / b.cpuMs : 0);
        }
        std::printf("paired %s / %s: wall %.2fx, cpu %.2fx\n", Name(launchers[n - 1]).c_str(),
                    Name(launchers[i]).c_str(), Median(wall), Median(cpu));
    }
    if (!eventOrder.empty()) {
        std::printf("from the start of %s to each event of its log (median ms):\n",
                    Name(launchers[n - 1]).c_str());
        for (const std::string& event : eventOrder) {
            std::printf("  %-34s %8.1f\n", event.c_str(), Median(eventTimes[event]));
        }
    }
    return 0;
}
