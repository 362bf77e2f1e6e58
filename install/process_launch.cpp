#include "install/process_launch.h"

#include <windows.h>

#include "common/log.h"
#include "common/unique_handle.h"
#include "install/command_lines.h"

namespace {

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
    LogEvent("unpack.start", {{"archive", archivePath}, {"folder", destinationFolder}});
    StartedProcess started;
    if (!StartProcess(BuildExtractCommandLine(archivePath, destinationFolder), CREATE_NO_WINDOW,
                      L"", started)) {
        LogEvent("unpack.end", {{"result", "failed"}, {"error", ErrorWithText(GetLastError())}});
        return false;
    }
    WaitForSingleObject(started.process.get(), INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(started.process.get(), &exitCode);
    LogEvent("unpack.end", {{"exit_code", exitCode}});
    return exitCode == 0;
}
