// The figures and the text of the progress line shown during the download.
#pragma once

#include <cstdint>
#include <string>

struct ProgressValues {
    unsigned percent = 0;  // 0 to 100; 0 when the size is unknown
    double speed = 0;      // mean bytes per second since the start
    double remaining = 0;  // seconds; 0 when the size or the speed is unknown
};

// contentLength 0 means the server sent no length.
ProgressValues ComputeProgress(uint64_t contentLength, uint64_t received, double elapsedSeconds);

// "25%   سرعت دانلود: 256 KB/s   زمان باقی مانده: 6 ثانیه"
std::wstring FormatProgressText(const ProgressValues& values);
