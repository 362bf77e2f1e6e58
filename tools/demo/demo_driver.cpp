// Plays the office worker in the headless demo: waits for the updater's
// window, saves screenshots before and during the download, presses the start
// button (or, for a mandatory release, dismisses the notice) and waits for the
// updater to end.
//   demo_driver UPDATER_EXE RUN_FOLDER SCREENSHOT_FOLDER [--mandatory]
// Exit code: the updater's, or 2 when it never showed its window.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/main_window.h"
#include "common/utf8.h"
#include "support/updater_driver.h"
#include "tools/demo/window_png.h"

using namespace testing_support;

namespace {

void Say(const std::wstring& line) {
    std::printf("  %s\n", WideToUtf8(line).c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fputs("usage: demo_driver UPDATER_EXE RUN_FOLDER SCREENSHOT_FOLDER [--mandatory]\n",
                   stderr);
        return 2;
    }
    const std::wstring shots = argv[3];
    const bool mandatory = argc > 4 && std::wstring(argv[4]) == L"--mandatory";
    UpdaterRun run(argv[1], argv[2]);
    if (run.WaitForWindow(true, 60000) == nullptr) {
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
