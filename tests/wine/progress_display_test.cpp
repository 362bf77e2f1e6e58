// The progress display with real controls: every text is taken over, the
// first is shown at once and a burst shows its last one.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "app/progress_display.h"
#include "support/updater_driver.h"

using testing_support::WindowText;

namespace {

TEST(Display, ShowsTheFirstMessageAtOnceAndTheLastOfABurst) {
    InitCommonControls();
    const HWND window = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 520, 300,
                                        nullptr, nullptr, nullptr, nullptr);
    const HWND status = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 20, 20, 480, 20,
                                        window, nullptr, nullptr, nullptr);
    const HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 20, 140,
                                     480, 20, window, nullptr, nullptr, nullptr);
    SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    const auto position = [bar] { return SendMessageW(bar, PBM_GETPOS, 0, 0); };
    ProgressDisplay display;
    display.Attach(window, bar, status);

    display.OnProgress(57, new std::wstring(L"T"));
    EXPECT_EQ(position(), 57);
    EXPECT_EQ(WindowText(status), L"T");
    for (unsigned percent = 58; percent <= 100; ++percent) {
        display.OnProgress(percent, new std::wstring(std::to_wstring(percent)));
    }
    EXPECT_EQ(position(), 57) << "a burst waits for the next repaint";
    display.Flush();
    EXPECT_EQ(position(), 100);
    EXPECT_EQ(WindowText(status), L"100");

    Sleep(ProgressDisplay::kMinRepaintMs + 20);
    display.OnProgress(3, new std::wstring(L"later"));
    EXPECT_EQ(WindowText(status), L"later") << "after a pause a message is shown at once";
    DestroyWindow(window);
}

}  // namespace
