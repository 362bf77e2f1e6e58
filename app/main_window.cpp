#include "app/main_window.h"

#include <commctrl.h>

#include <string>
#include <utility>

#include "app/app_messages.h"
#include "app/progress_display.h"
#include "app/window_layout.h"
#include "app/workers.h"
#include "common/log.h"
#include "common/message_box.h"
#include "common/texts.h"
#include "common/unique_handle.h"
#include "update/update_info.h"

HINSTANCE g_instance = nullptr;

namespace {

constexpr DWORD kMainWindowExStyle = WS_EX_LAYOUTRTL | WS_EX_RTLREADING | WS_EX_RIGHT;
constexpr DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD kStatusStyle = WS_CHILD | WS_VISIBLE | ES_RIGHT;
constexpr DWORD kNotesExStyle = WS_EX_LAYOUTRTL | WS_EX_RTLREADING;
constexpr DWORD kNotesStyle =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE | ES_RIGHT;
constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE;

// Process-wide state of the window, touched on the main thread only.
struct WindowState {
    UniqueFont font;
    MainWindowControls controls;
    bool startPressed = false;
    bool laterPressed = false;
    bool closeAllowedInMandatoryMode = false;
    ProgressDisplay progress;
};
WindowState g_state;

HWND CreateChild(HWND parent, DWORD exStyle, const wchar_t* className, const wchar_t* text,
                 DWORD style, const ControlPlace& place, int id) {
    return CreateWindowExW(exStyle, className, text, style, place.x, place.y, place.width,
                           place.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           g_instance, nullptr);
}

// The window's DPI. GetDpiForWindow exists from Windows 10 on; before it, the
// system DPI of a DPI-aware process is what the window is drawn at.
unsigned WindowDpi(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow =
        reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(window); dpi != 0) {
            return dpi;
        }
    }
    HDC dc = GetDC(window);
    const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<unsigned>(dpi) : kDesignDpi;
}

HFONT CreateWindowFont(const WindowLayout& layout) {
    return CreateFontW(layout.fontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ARABIC_CHARSET,
                       OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
}

void SetFontOfControls(HFONT font) {
    const MainWindowControls& c = g_state.controls;
    for (HWND control : {c.status, c.notes, c.startButton, c.laterButton}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}

void OnCreate(HWND window) {
    const unsigned dpi = WindowDpi(window);
    const WindowLayout layout = LayoutForDpi(dpi);
    // CW_USEDEFAULT placed the window; only its size follows the scaling.
    if (dpi != kDesignDpi) {
        LogEvent("window", {{"dpi", std::to_string(dpi)}});
        SetWindowPos(window, nullptr, 0, 0, layout.width, layout.height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    g_state.font.reset(CreateWindowFont(layout));
    MainWindowControls& c = g_state.controls;
    c.status = CreateChild(window, 0, L"EDIT", L"", kStatusStyle, layout.status, 0);
    c.notes = CreateChild(window, kNotesExStyle, L"EDIT", L"", kNotesStyle, layout.notes, 0);
    c.progress = CreateChild(window, 0, PROGRESS_CLASSW, nullptr, kChildStyle, layout.progress,
                             kProgressBarId);
    SendMessageW(c.progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(c.progress, PBM_SETPOS, 0, 0);
    c.startButton = CreateChild(window, 0, L"BUTTON", texts::kStartButtonText,
                                kChildStyle | BS_PUSHBUTTON, layout.startButton, kStartButtonId);
    c.laterButton = CreateChild(window, 0, L"BUTTON", texts::kLaterButtonText,
                                kChildStyle | BS_PUSHBUTTON, layout.laterButton, kLaterButtonId);
    SetFontOfControls(g_state.font.get());
    g_state.progress.Attach(window, c.progress, c.status);
}

// The window moved to a monitor of another scaling, or the scaling changed:
// take the size Windows suggests, and place and letter the controls anew.
void OnDpiChanged(HWND window, unsigned dpi, const RECT& suggested) {
    const WindowLayout layout = LayoutForDpi(dpi);
    LogEvent("window", {{"dpi", std::to_string(dpi)}});
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    const MainWindowControls& c = g_state.controls;
    const std::pair<HWND, ControlPlace> places[] = {
        {c.status, layout.status},           {c.notes, layout.notes},
        {c.progress, layout.progress},       {c.startButton, layout.startButton},
        {c.laterButton, layout.laterButton},
    };
    for (const auto& [control, place] : places) {
        SetWindowPos(control, nullptr, place.x, place.y, place.width, place.height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The controls hold the old font until they have the new one.
    UniqueFont font(CreateWindowFont(layout));
    if (!font) {
        LogEvent("window", {{"dpi", std::to_string(dpi)}, {"result", "font not made"}});
        return;
    }
    SetFontOfControls(font.get());
    g_state.font = std::move(font);
}

void OnCommand(HWND window, WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) {
        return;
    }
    const int id = LOWORD(wParam);
    if (id == kStartButtonId && !g_state.startPressed) {
        LogEvent("button", {{"name", "start"}});
        g_state.startPressed = true;
        StartWorker(window, UpdateWorker);
    } else if (id == kLaterButtonId && !g_state.laterPressed) {
        // While the installation runs the press is ignored, and stays
        // available for after a failed unpack.
        if (!ClaimEndOfUpdater()) {
            LogEvent("button", {{"name", "later"}, {"result", "ignored while installing"}});
            return;
        }
        LogEvent("button", {{"name", "later"}});
        g_state.laterPressed = true;
        StartWorker(window, DeferWorker);
    }
}

void OnClose(HWND window) {
    if (UpdateInfo.mandatoryMode && !g_state.closeAllowedInMandatoryMode) {
        LogEvent("window.close", {{"result", "ignored: mandatory update running"}});
        return;
    }
    // Never end the updater while the installation is moving folders.
    if (!ClaimEndOfUpdater()) {
        LogEvent("window.close", {{"result", "ignored while installing"}});
        return;
    }
    LogEvent("window.close", {{"result", "closing"}});
    DestroyWindow(window);
}

void SetStatus(const wchar_t* text) {
    // Support reads what the user was told; a status may show only briefly.
    LogEvent("status", {{"text", text}});
    g_state.progress.Flush();
    if (g_state.controls.status != nullptr) {
        SetWindowTextW(g_state.controls.status, text);
    }
}

// The class has no background brush; without this the client area around
// the controls would show whatever was there before.
LRESULT OnEraseBackground(HWND window, HDC dc) {
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    return 1;
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate(window);
            return 0;
        case WM_COMMAND:
            OnCommand(window, wParam);
            return 0;
        case WM_CLOSE:
            OnClose(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY:
            // The last message: the controls that used the font are gone.
            g_state.font.reset();
            break;
        case WM_DPICHANGED:
            OnDpiChanged(window, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_ERASEBKGND:
            return OnEraseBackground(window, reinterpret_cast<HDC>(wParam));
        case WM_TIMER:
            if (wParam == ProgressDisplay::kTimerId) {
                g_state.progress.Flush();
                return 0;
            }
            break;
        case WM_APP_STATUS:
            SetStatus(reinterpret_cast<const wchar_t*>(lParam));
            return 0;
        case WM_APP_PROGRESS:
            g_state.progress.OnProgress(static_cast<unsigned>(wParam),
                                        reinterpret_cast<std::wstring*>(lParam));
            return 0;
        case WM_APP_UPDATE_FAILED:
            if (UpdateInfo.mandatoryMode) {
                AllowClosingAfterFailure(window);
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return HandleMessage(window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

}  // namespace

bool StartWorker(HWND window, LPTHREAD_START_ROUTINE routine) {
    // The thread runs on unobserved; its handle is closed at once.
    if (UniqueKernelHandle(CreateThread(nullptr, 0, routine, window, 0, nullptr))) {
        return true;
    }
    LogEvent("worker", {{"result", "not started"}, {"error", ErrorWithText(GetLastError())}});
    if (routine == DeferWorker) {
        ReleaseEndOfUpdater();
    } else if (UpdateInfo.mandatoryMode) {
        AllowClosingAfterFailure(window);
    }
    ShowMessageBox(window, texts::kStartUpdateError, texts::kErrorCaptionEnglish, MB_ICONERROR);
    return false;
}

HWND CreateMainWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = g_instance;
    windowClass.lpszClassName = kMainWindowClass;
    RegisterClassW(&windowClass);
    // The size at 96 DPI; WM_CREATE scales it to the window's own DPI.
    const WindowLayout design = LayoutForDpi(kDesignDpi);
    return CreateWindowExW(kMainWindowExStyle, kMainWindowClass, texts::kWindowTitle,
                           kMainWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, design.width,
                           design.height, nullptr, nullptr, g_instance, nullptr);
}

const MainWindowControls& Controls() {
    return g_state.controls;
}

void AllowClosingAfterFailure(HWND window) {
    g_state.closeAllowedInMandatoryMode = true;
    EnableWindow(window, TRUE);
}

bool ClosingAllowedAfterFailure() {
    return g_state.closeAllowedInMandatoryMode;
}
