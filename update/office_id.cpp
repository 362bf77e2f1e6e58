#include "update/office_id.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>

#include "common/hex.h"
#include "common/log.h"
#include "common/unique_handle.h"

namespace {

std::string g_officeId;

bool IsIdText(const std::string& text) {
    return text.size() == 32 && std::ranges::all_of(text, [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string NewId() {
    unsigned char bytes[16] = {};
    if (BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) {
        return "";
    }
    return ToHex(bytes, sizeof(bytes));
}

}  // namespace

bool WriteOfficeFile(const std::wstring& path, const std::string& text, bool replace) {
    const std::wstring temporary = path + L".tmp-" + std::to_wstring(GetCurrentProcessId());
    bool written = false;
    {
        UniqueFileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD count = 0;
        written =
            file &&
            WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &count, nullptr) &&
            count == text.size() && FlushFileBuffers(file.get());
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (written && MoveFileExW(temporary.c_str(), path.c_str(), flags)) {
        return true;
    }
    DeleteFileW(temporary.c_str());
    return false;
}

bool ReadOfficeFile(const std::wstring& path, std::string& text, size_t limit) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    text.assign(limit + 1, '\0');
    DWORD count = 0;
    if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &count, nullptr)) {
        return false;
    }
    text.resize(count);
    return true;
}

void LoadOfficeId() {
    std::string text;
    const bool present = ReadOfficeFile(kOfficeIdFile, text);
    if (present && IsIdText(text)) {
        g_officeId = text;
        return;
    }
    const bool existed = GetFileAttributesW(kOfficeIdFile) != INVALID_FILE_ATTRIBUTES;
    const std::string fresh = NewId();
    const bool written = !fresh.empty() && WriteOfficeFile(kOfficeIdFile, fresh, existed);
    const DWORD error = written ? 0 : GetLastError();
    // Whatever the file holds now is the office's id; this run's own is used
    // only when it could not be kept.
    g_officeId = ReadOfficeFile(kOfficeIdFile, text) && IsIdText(text) ? text : fresh;
    LogEvent("office", {{"result", !written ? "unsaved" : (existed ? "replaced" : "created")},
                        {"reason", existed ? "damaged" : ""},
                        {"id", g_officeId},
                        {"error", written ? std::string() : ErrorWithText(error)}});
}

const std::string& OfficeId() {
    return g_officeId;
}
