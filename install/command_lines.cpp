#include "install/command_lines.h"

namespace {

constexpr const wchar_t* kExtractArguments =
    L"\" -NoLogo -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -Force '";

}  // namespace

std::wstring LaunchWorkingFolder(const std::wstring& executablePath) {
    const size_t separator = executablePath.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator == 0) {
        return {};
    }
    return executablePath.substr(0, separator);
}

std::wstring BuildLaunchCommandLine(const std::wstring& executablePath,
                                    const std::wstring& arguments) {
    return L"\"" + executablePath + L"\" " + arguments;
}

std::wstring BuildExtractCommandLine(const std::wstring& powershellPath,
                                     const std::wstring& archivePath,
                                     const std::wstring& destinationFolder) {
    return L"\"" + powershellPath + kExtractArguments + archivePath + L"' '" + destinationFolder +
           L"'\"";
}
