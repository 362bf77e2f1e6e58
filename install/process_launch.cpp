#include "install/process_launch.h"

#include <windows.h>

#include "common/log.h"
#include "common/unique_handle.h"
#include "install/command_lines.h"

// The test build waits less for a hung PowerShell; the mechanism is the same.
#ifndef ZEL_POWERSHELL_LIMIT_MS
#define ZEL_POWERSHELL_LIMIT_MS 120000
#endif

namespace {

// Expand-Archive takes seconds for a release, and can take minutes on large
// ones or while antivirus scans each file; a PowerShell held longer (hung,
// or waiting on something that never comes) would keep the window, which
// cannot be closed while installing, for good. Ending it is safe: the
// built-in unpack then starts again in a fresh folder.
constexpr DWORD kPowerShellLimitMs = ZEL_POWERSHELL_LIMIT_MS;
constexpr DWORD kTerminateWaitMs = 10000;

// Members are destroyed in reverse: the thread handle is closed first.
struct StartedProcess {
    UniqueKernelHandle process;
    UniqueKernelHandle thread;
};

bool StartProcess(std::wstring commandLine, DWORD creationFlags, const std::wstring& folder,
                  StartedProcess& started) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, creationFlags,
                        nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        return false;
    }
    started.process.reset(info.hProcess);
    started.thread.reset(info.hThread);
    return true;
}

}  // namespace

DWORD LaunchProcess(const std::wstring& executablePath, const std::wstring& arguments) {
    StartedProcess started;
    if (!StartProcess(BuildLaunchCommandLine(executablePath, arguments), 0,
                      LaunchWorkingFolder(executablePath), started)) {
        return 0;
    }
    return GetProcessId(started.process.get());
}

bool ExtractArchive(const std::wstring& archivePath, const std::wstring& destinationFolder) {
    LogEvent("unpack.start",
             {{"way", "powershell"}, {"archive", archivePath}, {"folder", destinationFolder}});
    StartedProcess started;
    if (!StartProcess(BuildExtractCommandLine(archivePath, destinationFolder), CREATE_NO_WINDOW,
                      L"", started)) {
        LogEvent("unpack.end", {{"way", "powershell"},
                                {"result", "failed"},
                                {"error", ErrorWithText(GetLastError())}});
        return false;
    }
    const ULONGLONG start = GetTickCount64();
    if (WaitForSingleObject(started.process.get(), kPowerShellLimitMs) == WAIT_TIMEOUT) {
        TerminateProcess(started.process.get(), ERROR_TIMEOUT);
        // Once it has ended, its files in the folder are closed.
        WaitForSingleObject(started.process.get(), kTerminateWaitMs);
        LogEvent("unpack.end",
                 {{"way", "powershell"}, {"result", "timeout"}, {"limit_ms", kPowerShellLimitMs}});
        return false;
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(started.process.get(), &exitCode);
    LogEvent("unpack.end", {{"way", "powershell"},
                            {"exit_code", exitCode},
                            {"seconds", static_cast<double>(GetTickCount64() - start) / 1000.0}});
    return exitCode == 0;
}
