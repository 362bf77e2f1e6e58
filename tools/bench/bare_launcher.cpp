// The least a launcher can do: start ZEL\zel_acc.exe and end. The startup
// benchmark compares the updater's no-update path with it.
#include <windows.h>

#include "install/process_launch.h"
#include "common/office_paths.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return LaunchProcess(kAppExecutablePath, L"") ? 0 : 1;
}
