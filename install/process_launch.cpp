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

// With a program named, nothing is searched for: a search by name looks in
// the updater's folder and the current folder (the office's share) first.
bool StartProcess(const wchar_t* program, std::wstring commandLine, DWORD creationFlags,
                  const std::wstring& folder, StartedProcess& started) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, creationFlags,
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
    if (!StartProcess(nullptr, BuildLaunchCommandLine(executablePath, arguments), 0,
                      LaunchWorkingFolder(executablePath), started)) {
        return 0;
    }
    return GetProcessId(started.process.get());
}

std::wstring PowerShellPath() {
#ifdef ZEL_TEST_POWERSHELL
    // Test builds only: the stand-in, named when the build was configured.
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = ExpandEnvironmentStringsW(ZEL_TEST_POWERSHELL, path, MAX_PATH * 2);
    return length > 0 && length <= MAX_PATH * 2 ? path : L"";
#else
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::wstring(system, length) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
#endif
}

bool ExtractArchive(const std::wstring& archivePath, const std::wstring& destinationFolder,
                    const std::function<std::optional<TreeDifference>()>& compare) {
    const std::wstring powershell = PowerShellPath();
    LogEvent("unpack.start", {{"way", "powershell"},
                              {"program", powershell},
                              {"archive", archivePath},
                              {"folder", destinationFolder}});
    StartedProcess started;
    if (powershell.empty() ||
        !StartProcess(powershell.c_str(),
                      BuildExtractCommandLine(powershell, archivePath, destinationFolder),
                      CREATE_NO_WINDOW, L"", started)) {
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
    const double seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
    // A stub, a constrained session or a half-finished run may say 0 too.
    const std::optional<TreeDifference> difference =
        exitCode == 0 ? compare() : std::optional<TreeDifference>();
    if (difference) {
        LogEvent("unpack.end", {{"way", "powershell"},
                                {"result", "incomplete"},
                                {"exit_code", exitCode},
                                {"reason", difference->reason},
                                {"entry", difference->entry},
                                {"seconds", seconds}});
        return false;
    }
    LogEvent("unpack.end", {{"way", "powershell"}, {"exit_code", exitCode}, {"seconds", seconds}});
    return exitCode == 0;
}
