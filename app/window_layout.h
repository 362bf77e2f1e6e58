// Where the window's controls sit and how large the window and its font are,
// at any display scaling: the 96-DPI design scaled by DPI / 96, rounded as
// Windows' MulDiv rounds. Pure, so that every figure is checked directly.
#pragma once

struct ControlPlace {
    int x = 0;  // from the right edge of the client area (the window is mirrored)
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ControlPlace&) const = default;
};

struct WindowLayout {
    int width = 0;  // outer size of the window
    int height = 0;
    int fontHeight = 0;  // positive: cell height
    ControlPlace status;
    ControlPlace notes;
    ControlPlace progress;
    ControlPlace startButton;
    ControlPlace laterButton;
    bool operator==(const WindowLayout&) const = default;
};

inline constexpr unsigned kDesignDpi = 96;

// value * dpi / 96, halves rounded away from zero.
int ScaleForDpi(int value, unsigned dpi);

WindowLayout LayoutForDpi(unsigned dpi);
