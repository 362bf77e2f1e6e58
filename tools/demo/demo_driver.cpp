// Plays the office worker in the headless demo: waits for the updater's
// window, saves screenshots before and during the download, presses the start
// button (or, for a mandatory release, dismisses the notice) and waits for the
// updater to end. When no release is offered the updater starts the
// application without a window and ends: that is reported, not waited out.
//   demo_driver UPDATER_EXE RUN_FOLDER SCREENSHOT_FOLDER [--mandatory]
// Exit code: the updater's, or 2 when it neither showed its window nor ended.
//
//   demo_driver --fetch https://HOST:PORT/PATH
// asks for PATH with the system's own certificate checks (chain to a trusted
// root, name), as a mirror's archive is fetched: prints "status=N" when an
// answer came, or "error=N" (a refused certificate gives 12175 on Windows,
// 12157 under Wine 8), exit code 0 or 1.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>

#include "app/main_window.h"
#include "common/unique_handle.h"
#include "common/utf8.h"
#include "support/updater_driver.h"
#include "tools/demo/window_png.h"

using namespace testing_support;

namespace {

void Say(const std::wstring& line) {
    std::printf("  %s\n", WideToUtf8(line).c_str());
}

int FetchFailed() {
    std::printf("error=%lu\n", GetLastError());
    return 1;
}

int Fetch(const wchar_t* url) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    wchar_t host[256] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url, 0, 0, &parts)) {
        return FetchFailed();
    }
    const UniqueInternetHandle session(
        WinHttpOpen(L"ZEL-Demo", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    const UniqueInternetHandle connection(
        session ? WinHttpConnect(session.get(), host, parts.nPort, 0) : nullptr);
    const UniqueInternetHandle request(
        connection ? WinHttpOpenRequest(connection.get(), L"HEAD", parts.lpszUrlPath, nullptr,
                                        nullptr, nullptr, WINHTTP_FLAG_SECURE)
                   : nullptr);
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!request || !WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr) ||
        !WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             nullptr, &status, &size, nullptr)) {
        return FetchFailed();
    }
    std::printf("status=%lu\n", status);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--fetch") {
        return Fetch(argv[2]);
    }
    if (argc < 4) {
        std::fputs("usage: demo_driver UPDATER_EXE RUN_FOLDER SCREENSHOT_FOLDER [--mandatory]\n",
                   stderr);
        return 2;
    }
    const std::wstring shots = argv[3];
    const bool mandatory = argc > 4 && std::wstring(argv[4]) == L"--mandatory";
    UpdaterRun run(argv[1], argv[2]);
    const ULONGLONG shown = GetTickCount64() + 60000;
    while (run.Running() && GetTickCount64() < shown && run.WaitForWindow(true, 200) == nullptr) {
    }
    if (run.window() == nullptr && !run.Running()) {
        const DWORD code = run.WaitForExit(0);
        Say(L"no window: the updater ended with exit code " + std::to_wstring(code));
        return static_cast<int>(code);
    }
    if (run.window() == nullptr) {
        const BoxSeen box = run.WaitForBox(1000);
        Say(box.window ? L"the updater showed a box: " + box.text : L"no window appeared");
        UpdaterRun::Dismiss(box);
        return 2;
    }
    WaitUntilPainted(run.window());
    SaveWindowPng(run.window(), shots + L"\\before-download.png");
    Say(L"window shown; notes: " + run.NotesText());
    if (mandatory) {
        const BoxSeen box = run.WaitForBox();
        Say(L"mandatory notice: " + box.text);
        UpdaterRun::Dismiss(box);
    } else {
        Say(L"pressing the start button");
        run.Click(kStartButtonId);
    }
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (run.Running() && run.StatusText().find(L"KB/s") == std::wstring::npos &&
           GetTickCount64() < deadline) {
        Sleep(20);
    }
    Sleep(700);
    if (run.Running()) {
        SaveWindowPng(run.window(), shots + L"\\during-download.png");
        Say(L"status line: " + run.StatusText());
    }
    const DWORD code = run.WaitForExit(180000);
    Say(L"the updater ended with exit code " + std::to_wstring(code));
    return static_cast<int>(code);
}
