// The figures and the text of the progress line shown during the download.
#pragma once

#include <cstdint>
#include <string>

struct ProgressValues {
    unsigned percent = 0;  // 0 to 100; 0 when the size is unknown
    double speed = 0;      // mean bytes per second of the current transfer
    double remaining = 0;  // seconds; 0 when the size or the speed is unknown
};

// total 0 means the server sent no length. `kept` counts every byte of the
// file on disk, a resumed part included; `transferred` only those of the
// current transfer, which began `elapsedSeconds` ago: a resumed download
// shows its true speed, not the part's bytes over a moment.
ProgressValues ComputeProgress(uint64_t total, uint64_t kept, uint64_t transferred,
                               double elapsedSeconds);

// "25%   سرعت دانلود: 256 KB/s   زمان باقی مانده: 6 ثانیه"
std::wstring FormatProgressText(const ProgressValues& values);
