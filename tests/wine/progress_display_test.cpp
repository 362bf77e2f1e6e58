// The progress display with real controls: every text is taken over, the
// first is shown at once and a burst shows its last one.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "app/progress_display.h"
#include "support/updater_driver.h"

using testing_support::WindowText;

namespace {

class Display : public testing::Test {
  protected:
    void SetUp() override {
        InitCommonControls();
        window_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 520, 300, nullptr,
                                  nullptr, nullptr, nullptr);
        status_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 20, 20, 480, 20, window_,
                                  nullptr, nullptr, nullptr);
        bar_ = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 20, 140, 480, 20,
                               window_, nullptr, nullptr, nullptr);
        SendMessageW(bar_, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        display_.Attach(window_, bar_, status_);
    }
    void TearDown() override { DestroyWindow(window_); }

    int Position() const { return static_cast<int>(SendMessageW(bar_, PBM_GETPOS, 0, 0)); }

    HWND window_ = nullptr;
    HWND status_ = nullptr;
    HWND bar_ = nullptr;
    ProgressDisplay display_;
};

TEST_F(Display, ShowsTheFirstMessageAtOnceAndTheLastOfABurst) {
    display_.OnProgress(57, new std::wstring(L"T"));
    EXPECT_EQ(Position(), 57);
    EXPECT_EQ(WindowText(status_), L"T");

    for (unsigned percent = 58; percent <= 100; ++percent) {
        display_.OnProgress(percent, new std::wstring(std::to_wstring(percent)));
    }
    EXPECT_EQ(Position(), 57) << "a burst waits for the next repaint";
    display_.Flush();
    EXPECT_EQ(Position(), 100);
    EXPECT_EQ(WindowText(status_), L"100");

    Sleep(ProgressDisplay::kMinRepaintMs + 20);
    display_.OnProgress(3, new std::wstring(L"later"));
    EXPECT_EQ(WindowText(status_), L"later") << "after a pause a message is shown at once";
}

}  // namespace
