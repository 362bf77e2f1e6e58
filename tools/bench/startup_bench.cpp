// Times the path from starting a launcher to the application's start:
//   startup_bench LAUNCHER_EXE FOLDER ROUNDS
// The launcher starts in FOLDER (which holds ZEL\zel_acc.exe); the time ends
// when the stand-in application records its start. Prints one line per round
// in milliseconds, then "median <ms>".
#include <windows.h>

#include <algorithm>
#include <cstdio>
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

bool HasStartRecord(const std::wstring& record, DWORD& pid) {
    UniqueFileHandle file(CreateFileW(record.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[4096] = {};
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), buffer, sizeof(buffer) - 1, &read, nullptr) ||
        std::string(buffer, read).find('\n') == std::string::npos) {
        return false;
    }
    const std::string line(buffer, read);
    const size_t first = line.find('\t');
    const size_t second = line.find('\t', first + 1);
    pid = static_cast<DWORD>(std::stoul(line.substr(second + 1)));
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fputs("usage: startup_bench LAUNCHER_EXE FOLDER ROUNDS\n", stderr);
        return 2;
    }
    const std::wstring launcher = argv[1];
    const std::wstring folder = argv[2];
    const int rounds = _wtoi(argv[3]);
    const std::wstring record = folder + L"\\starts.txt";
    SetEnvironmentVariableW(L"ZEL_APP_RECORD", record.c_str());
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        DeleteFileW(record.c_str());
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        std::wstring commandLine = L"\"" + launcher + L"\"";
        const double start = Now();
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder.c_str(), &startup, &info)) {
            return 1;
        }
        UniqueKernelHandle process(info.hProcess);
        UniqueKernelHandle thread(info.hThread);
        DWORD appPid = 0;
        while (!HasStartRecord(record, appPid)) {
            if (Now() - start > 30000) {
                return 1;
            }
            Sleep(1);
        }
        times.push_back(Now() - start);
        std::printf("%.1f\n", times.back());
        WaitForSingleObject(process.get(), 10000);
        UniqueKernelHandle app(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, appPid));
        if (app) {
            TerminateProcess(app.get(), 0);
            WaitForSingleObject(app.get(), 5000);
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("median %.1f\n", times[times.size() / 2]);
    return 0;
}
