#include "download/progress.h"

#include <cmath>

#include "common/texts.h"

ProgressValues ComputeProgress(uint64_t contentLength, uint64_t received, double elapsedSeconds) {
    ProgressValues values;
    if (elapsedSeconds > 0) {
        values.speed = static_cast<double>(received) / elapsedSeconds;
    }
    if (contentLength != 0) {
        const uint64_t percent = received * 100 / contentLength;
        values.percent = static_cast<unsigned>(percent > 100 ? 100 : percent);
        if (elapsedSeconds > 0 && values.speed > 0 && received < contentLength) {
            values.remaining = static_cast<double>(contentLength - received) / values.speed;
        }
    }
    return values;
}

namespace {

// Truncated toward zero and written in full: a huge figure is never wrapped.
std::wstring WholeNumber(double value) {
    if (!(value > 0)) {
        return L"0";
    }
    if (value >= 18446744073709551615.0) {
        return L"18446744073709551615";
    }
    return std::to_wstring(static_cast<uint64_t>(value));
}

}  // namespace

std::wstring FormatProgressText(const ProgressValues& values) {
    return std::to_wstring(values.percent) + texts::kProgressSpeedLabel +
           WholeNumber(values.speed / 1024) + texts::kProgressRemainingLabel +
           WholeNumber(values.remaining) + texts::kProgressSecondsUnit;
}
