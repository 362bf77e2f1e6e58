// One manifest check against whatever the test server is set to answer,
// with the product's 30 s deadline: prints how long the check took, how it
// ended and the process's peak working set. Run by tools/bench_deadline.sh.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "update/manifest_fetch.h"

int wmain() {
    const ULONGLONG start = GetTickCount64();
    std::wstring text;
    FetchOutcome outcome;
    const bool ok = FetchManifest(L"1.2.3.4", text, &outcome);
    const ULONGLONG elapsed = GetTickCount64() - start;
    PROCESS_MEMORY_COUNTERS memory = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("%6.1f s  %-8s error=%-6lu peak_working_set=%zu KiB\n", elapsed / 1000.0,
                ok ? "ok" : outcome.failure, outcome.error, memory.PeakWorkingSetSize / 1024);
    return 0;
}
