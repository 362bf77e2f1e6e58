#include "app/window_layout.h"

namespace {

constexpr WindowLayout kDesignLayout = {
    .width = 520,
    .height = 300,
    .fontHeight = 18,
    .status = {20, 20, 480, 20},
    .notes = {20, 50, 480, 80},
    .progress = {20, 140, 480, 20},
    .startButton = {20, 180, 160, 30},
    .laterButton = {250, 180, 160, 30},
};

ControlPlace Scale(const ControlPlace& place, unsigned dpi) {
    return {ScaleForDpi(place.x, dpi), ScaleForDpi(place.y, dpi), ScaleForDpi(place.width, dpi),
            ScaleForDpi(place.height, dpi)};
}

}  // namespace

int ScaleForDpi(int value, unsigned dpi) {
    const long long product = static_cast<long long>(value) * dpi;
    const long long half = kDesignDpi / 2;
    return static_cast<int>(product >= 0 ? (product + half) / kDesignDpi
                                         : (product - half) / kDesignDpi);
}

WindowLayout LayoutForDpi(unsigned dpi) {
    if (dpi == 0) {
        dpi = kDesignDpi;
    }
    const WindowLayout& d = kDesignLayout;
    return {ScaleForDpi(d.width, dpi), ScaleForDpi(d.height, dpi), ScaleForDpi(d.fontHeight, dpi),
            Scale(d.status, dpi),      Scale(d.notes, dpi),        Scale(d.progress, dpi),
            Scale(d.startButton, dpi), Scale(d.laterButton, dpi)};
}
