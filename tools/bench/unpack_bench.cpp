// Times the built-in unpack of one archive into a fresh folder, as the
// updater runs it (file reads, inflate, CRC-32, checks and writes).
//   unpack_bench <archive> <folder> <rounds>
// Output: the median seconds of the rounds, the entries and bytes unpacked
// and the peak working set:
//   median_seconds 1.234 entries 2000 bytes 131072000 peak_working_set_bytes 5000000
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "install/builtin_unpack.h"
#include "install/folders.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        return 2;
    }
    const std::wstring archive = argv[1];
    const std::wstring folder = argv[2];
    const int rounds = std::max(1, _wtoi(argv[3]));
    const std::optional<UnpackedSize> size = ReadUnpackedSize(archive);
    if (!size) {
        return 3;
    }
    std::vector<double> seconds;
    for (int i = 0; i < rounds; ++i) {
        RemoveFolderTree(folder);
        LARGE_INTEGER start, end, frequency;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        const bool unpacked = BuiltinUnpack(archive, folder);
        QueryPerformanceCounter(&end);
        if (!unpacked) {
            return 4;
        }
        seconds.push_back(static_cast<double>(end.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart));
    }
    RemoveFolderTree(folder);
    std::sort(seconds.begin(), seconds.end());
    PROCESS_MEMORY_COUNTERS memory = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("median_seconds %.3f entries %u bytes %llu peak_working_set_bytes %llu\n",
                seconds[seconds.size() / 2], size->entries,
                static_cast<unsigned long long>(size->bytes),
                static_cast<unsigned long long>(memory.PeakWorkingSetSize));
    return 0;
}
