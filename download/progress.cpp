#include "download/progress.h"

#include <cmath>

#include "common/texts.h"

ProgressValues ComputeProgress(uint64_t total, uint64_t kept, uint64_t transferred,
                               double elapsedSeconds) {
    ProgressValues values;
    if (elapsedSeconds > 0) {
        values.speed = static_cast<double>(transferred) / elapsedSeconds;
    }
    if (total != 0) {
        values.percent = kept >= total ? 100u : static_cast<unsigned>(kept * 100 / total);
        if (elapsedSeconds > 0 && values.speed > 0 && kept < total) {
            values.remaining = static_cast<double>(total - kept) / values.speed;
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
