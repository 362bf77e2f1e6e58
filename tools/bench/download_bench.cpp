// Measures one download from the test server and prints one line of figures:
//   download_bench package [SHA256]
//                            DownloadPackage into zel.zip, progress posted to a
//                            real window with a status line and a progress bar,
//                            pumped on this thread as in the updater; with the
//                            archive's digest, a zel.zip already there may lend
//                            its entries (the differential download)
//   download_bench bare      a bare WinHTTP loop over the same pinned request,
//                            reading 16 KiB chunks and discarding them, beside
//                            the same window: under Wine any window costs some
//                            6 to 9 MiB, the updater's whatever it downloads
//   download_bench alone     the bare loop without a window
//   download_bench check     the manifest fetch, 15 times: prints the median ms
// Output: mode bytes seconds messages peak_working_set_bytes
#include <windows.h>
#include <psapi.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <vector>
#include <cstdio>
#include <string>
#include <thread>

#include "app/app_messages.h"
#include "app/progress_display.h"
#include "download/download_package.h"
#include "update/manifest_fetch.h"
#include "update/pinned_request.h"

namespace {

unsigned long long g_messages = 0;
ProgressDisplay g_display;

// Handles progress with the updater's own display code.
LRESULT CALLBACK ShowProgress(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP_PROGRESS) {
        ++g_messages;
        g_display.OnProgress(static_cast<unsigned>(wParam),
                             reinterpret_cast<std::wstring*>(lParam));
        return 0;
    }
    if (message == WM_TIMER && wParam == ProgressDisplay::kTimerId) {
        g_display.Flush();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

unsigned long long RunBare() {
    PinnedRequest http;
    if (!OpenPinnedRequest(L"/package.zip", RequestOptions{}, http)) {
        return 0;
    }
    static char buffer[16384];
    unsigned long long total = 0;
    DWORD read = 0;
    while (WinHttpReadData(http.request.get(), buffer, sizeof(buffer), &read) && read > 0) {
        total += read;
    }
    return total;
}

unsigned long long RunPackage(HWND window, const std::wstring& sha256) {
    PostedProgress progress(window);
    if (!DownloadPackage(L"https://bench/package.zip", sha256, L"zel.zip", progress)) {
        return 0;
    }
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(L"zel.zip", GetFileExInfoStandard, &data);
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

unsigned long long RunBesideWindow(bool package, const std::wstring& sha256) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ShowProgress;
    windowClass.lpszClassName = L"ZelBench";
    RegisterClassW(&windowClass);
    InitCommonControls();
    HWND window = CreateWindowExW(0, L"ZelBench", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                  520, 300, nullptr, nullptr, nullptr, nullptr);
    HWND status = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_RIGHT, 20, 20, 480,
                                  20, window, nullptr, nullptr, nullptr);
    HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 20, 140, 480, 20,
                               window, nullptr, nullptr, nullptr);
    SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    g_display.Attach(window, bar, status);
    const DWORD mainThread = GetCurrentThreadId();
    unsigned long long bytes = 0;
    std::thread worker([&] {
        bytes = package ? RunPackage(window, sha256) : RunBare();
        PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
    });
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    worker.join();
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
    return bytes;
}

int RunCheck() {
    std::vector<double> times;
    for (int i = 0; i < 15; ++i) {
        const auto start = std::chrono::steady_clock::now();
        std::wstring manifest;
        if (!FetchManifest(L"1.2.3.4", manifest)) {
            return 1;
        }
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        times.push_back(took.count());
    }
    std::sort(times.begin(), times.end());
    std::printf("check median %.1f ms (min %.1f, max %.1f)\n", times[times.size() / 2],
                times.front(), times.back());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"check") {
        return RunCheck();
    }
    const auto start = std::chrono::steady_clock::now();
    const unsigned long long bytes =
        mode == L"alone" ? RunBare()
                         : RunBesideWindow(mode == L"package", argc > 2 ? argv[2] : L"");
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("%ls %llu %.3f %llu %llu\n", mode.c_str(), bytes, seconds.count(), g_messages,
                static_cast<unsigned long long>(memory.PeakWorkingSetSize));
    return bytes > 0 ? 0 : 1;
}
