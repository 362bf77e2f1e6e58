// Command lines and working folders of the processes the updater starts.
// Nothing is escaped: callers pass only names without quotes or apostrophes.
#pragma once

#include <string>

// The folder before the last "\" or "/" of the path, or empty (inherit the
// updater's current directory) when there is none or it is the first character.
std::wstring LaunchWorkingFolder(const std::wstring& executablePath);

// "<path>" <arguments>, with the blank also when the arguments are empty.
std::wstring BuildLaunchCommandLine(const std::wstring& executablePath,
                                    const std::wstring& arguments);

// "<powershell>" ... -Command "Expand-Archive -Force '<archive>' '<folder>'"
std::wstring BuildExtractCommandLine(const std::wstring& powershellPath,
                                     const std::wstring& archivePath,
                                     const std::wstring& destinationFolder);
