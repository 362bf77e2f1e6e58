#include "common/product_version.h"

#include <windows.h>

#include <cwchar>
#include <vector>

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
    std::swprintf(subBlock, 64, L"\\StringFileInfo\\%04x%04x\\ProductVersion", translation[0],
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
