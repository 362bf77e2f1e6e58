#include "update/installed_version.h"

#include <windows.h>

#include <vector>

#include "common/log.h"
#include "common/message_box.h"
#include "common/office_paths.h"
#include "common/texts.h"

namespace {

// Follows links like the standard existence test; only these errors mean
// "nothing there". Anything else (access denied, say) cannot rule the file
// out, so it counts as present and the version read decides.
bool ExecutableMissing(const wchar_t* path) {
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_NETNAME_DELETED:
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::optional<std::wstring> ReadProductVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<BYTE> buffer(size, 0);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, buffer.data())) {
        return std::nullopt;
    }
    WORD* translation = nullptr;
    UINT translationBytes = 0;
    if (!VerQueryValueW(buffer.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &translationBytes) ||
        translation == nullptr || translationBytes < 2 * sizeof(WORD)) {
        return std::nullopt;
    }
    wchar_t subBlock[64];
    wsprintfW(subBlock, L"\\StringFileInfo\\%04x%04x\\ProductVersion", translation[0],
              translation[1]);
    wchar_t* value = nullptr;
    UINT valueLength = 0;
    if (!VerQueryValueW(buffer.data(), subBlock, reinterpret_cast<void**>(&value), &valueLength) ||
        value == nullptr || valueLength == 0) {
        return std::nullopt;
    }
    // The string ends at its NUL; the reported length only bounds the read so
    // that a malformed resource cannot lead past its value.
    std::wstring version(value, wcsnlen(value, valueLength));
    if (version.empty()) {
        return std::nullopt;
    }
    return version;
}

std::optional<std::wstring> ReadInstalledVersion() {
    if (ExecutableMissing(kAppExecutablePath)) {
        LogEvent("installed", {{"error", "missing"}, {"path", kAppExecutablePath}});
        return std::nullopt;
    }
    std::optional<std::wstring> version = ReadProductVersion(kAppExecutablePath);
    if (version) {
        LogEvent("installed", {{"version", *version}});
        return version;
    }
    LogEvent("installed", {{"error", "no-product-version"}, {"path", kAppExecutablePath}});
    ShowMessageBox(nullptr, texts::kVersionReadError, texts::kErrorCaptionPersian, MB_ICONERROR);
    return std::nullopt;
}
