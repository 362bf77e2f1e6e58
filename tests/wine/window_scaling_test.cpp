// The real updater's window at the display scaling of the Wine prefix the
// test runs in (ZEL_TEST_DPI, the prefix's LogPixels): the window, each
// control and the font are the 96-DPI design scaled by DPI / 96. The window's
// picture is kept in ZEL_TEST_SHOTS, with the demo's screenshots.

// For GetDpiForSystem: the test runs only where it exists.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#include <windows.h>

#include <gtest/gtest.h>

#include <utility>

#include "app/main_window.h"
#include "app/window_layout.h"
#include "common/unique_handle.h"
#include "support/test_server_control.h"
#include "support/test_support.h"
#include "support/updater_driver.h"
#include "tools/demo/window_png.h"

using namespace testing_support;

void PrintTo(const ControlPlace& p, std::ostream* out) {
    *out << "x=" << p.x << " y=" << p.y << " width=" << p.width << " height=" << p.height;
}

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t text[MAX_PATH] = {};
    GetEnvironmentVariableW(name, text, MAX_PATH);
    return text;
}

// A control's place as it was asked for: x from the right edge of the
// mirrored client area.
ControlPlace PlaceOf(HWND window, HWND control) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    return {origin.x - rect.right, rect.top - origin.y, rect.right - rect.left,
            rect.bottom - rect.top};
}

// The cell height a font of the window's kind gets at `height`: what the
// notes box's lines are apart when it uses that font.
int CellHeight(int height) {
    UniqueFont font(CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ARABIC_CHARSET,
                                OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font.get());
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return metrics.tmHeight;
}

}  // namespace

TEST(WindowScaling, WindowControlsAndFontFollowTheDisplayScaling) {
    const unsigned dpi = static_cast<unsigned>(_wtoi(Environment(L"ZEL_TEST_DPI").c_str()));
    ASSERT_EQ(GetDpiForSystem(), dpi) << "the prefix runs at another scaling";
    ScratchFolder office;
    InstallApp(office.path(), L"v1.2.3.4");
    SetServerScenario(
        {{.body =
              R"({"version": "2.0.0.0", "url": "https://cdn.example/zel.zip", )"
              R"("notes": "گزارش‌های سریع‌تر\nرفع اشکال چاپ فاکتور"})"}});
    UpdaterRun run(BinFolder() + L"\\zel_updater_test.exe", office.path());
    const HWND window = run.WaitForWindow();
    ASSERT_NE(window, nullptr) << run.State();

    const WindowLayout want = LayoutForDpi(dpi);
    RECT outer = {};
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.right - outer.left, want.width);
    EXPECT_EQ(outer.bottom - outer.top, want.height);
    // The controls in the order they were made.
    HWND control = GetWindow(window, GW_CHILD);
    const HWND notes = GetWindow(control, GW_HWNDNEXT);
    for (const auto& [name, place] : {std::pair{"status", want.status},
                                      {"notes", want.notes},
                                      {"progress", want.progress},
                                      {"start", want.startButton},
                                      {"later", want.laterButton}}) {
        EXPECT_EQ(PlaceOf(window, control), place) << name;
        control = GetWindow(control, GW_HWNDNEXT);
    }
    const LRESULT secondLine =
        SendMessageW(notes, EM_POSFROMCHAR, SendMessageW(notes, EM_LINEINDEX, 1, 0), 0);
    EXPECT_EQ(HIWORD(secondLine), CellHeight(want.fontHeight)) << "font height " << want.fontHeight;

    EXPECT_TRUE(WaitUntilPainted(window));
    const std::wstring shots = Environment(L"ZEL_TEST_SHOTS");
    MakeFolder(shots);
    EXPECT_TRUE(SaveWindowPng(window, shots + L"\\window-" + std::to_wstring(dpi) + L"dpi.png"));
    run.RequestClose();
    EXPECT_EQ(run.WaitForExit(), 0u);
}

// A move to a monitor at 125 %: the window takes the suggested rectangle, the
// controls their places and the font its height at 120 DPI, and the old font
// is deleted. In this process, so that the font can be read.
TEST(WindowScaling, MoveToAnotherScalingLaysTheWindowOutAgain) {
    const HWND window = CreateMainWindow();
    ASSERT_NE(window, nullptr);
    const MainWindowControls& c = Controls();
    const HGDIOBJ oldFont = reinterpret_cast<HGDIOBJ>(SendMessageW(c.status, WM_GETFONT, 0, 0));
    const unsigned dpi = 120;
    const WindowLayout want = LayoutForDpi(dpi);
    RECT suggested = {30, 40, 30 + want.width, 40 + want.height};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    RECT outer = {};
    GetWindowRect(window, &outer);
    EXPECT_TRUE(EqualRect(&outer, &suggested));
    for (const auto& [control, place] : {std::pair{c.status, want.status},
                                         {c.notes, want.notes},
                                         {c.progress, want.progress},
                                         {c.startButton, want.startButton},
                                         {c.laterButton, want.laterButton}}) {
        EXPECT_EQ(PlaceOf(window, control), place);
    }
    for (HWND control : {c.status, c.notes, c.startButton, c.laterButton}) {
        LOGFONTW font = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font),
                   &font);
        EXPECT_EQ(font.lfHeight, want.fontHeight);
    }
    EXPECT_EQ(GetObjectType(oldFont), 0u) << "the old font is left behind";
    DestroyWindow(window);
}
