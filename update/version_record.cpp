#include "update/version_record.h"

#include <windows.h>

#include "common/log.h"
#include "common/unique_handle.h"
#include "update/version_quad.h"

namespace {

constexpr int kRenameTries = 50;
constexpr DWORD kRenamePauseMs = 10;

std::wstring QuadText(const VersionQuad& quad) {
    std::wstring text;
    for (int i = 0; i < 4; ++i) {
        text += (i > 0 ? L"." : L"") + std::to_wstring(quad.part[i]);
    }
    return text;
}

bool IsNumber(const std::string& text) {
    const size_t digits = text.starts_with('-') ? 1 : 0;
    return text.size() > digits && text.size() - digits <= 10 &&
           text.find_first_not_of("0123456789", digits) == std::string::npos;
}

}  // namespace

std::optional<std::wstring> ParseVersionRecord(const std::string& bytes) {
    if (!bytes.ends_with('\n')) {
        return std::nullopt;
    }
    const std::string text = bytes.substr(0, bytes.size() - 1);
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t end = i < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos || !IsNumber(text.substr(start, end - start))) {
            return std::nullopt;
        }
        start = end + 1;
    }
    const std::wstring wide(text.begin(), text.end());
    // Numbers the comparison would read otherwise (beyond 32 bits) are damage too.
    return QuadText(ParseVersionQuad(wide)) == wide ? std::optional(wide) : std::nullopt;
}

VersionRecord ReadVersionRecord(const wchar_t* path) {
    // Sharing delete too: a writer renames its new record over this one.
    UniqueFileHandle file(CreateFileW(path, GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return {};
        }
        LogEvent("record", {{"result", "unreadable"}, {"error", ErrorWithText(error)}});
        return {RecordState::kDamaged, {}};
    }
    char buffer[64];
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr)) {
        LogEvent("record", {{"result", "unreadable"}, {"error", ErrorWithText(GetLastError())}});
        return {RecordState::kDamaged, {}};
    }
    const auto version = ParseVersionRecord(std::string(buffer, read));
    if (!version) {
        LogEvent("record",
                 {{"result", "damaged"}, {"bytes", static_cast<unsigned long long>(read)}});
        return {RecordState::kDamaged, {}};
    }
    return {RecordState::kPresent, *version};
}

bool WriteVersionRecord(const std::wstring& version, const wchar_t* path) {
    const std::wstring text = QuadText(ParseVersionQuad(version)) + L"\n";
    const std::string bytes(text.begin(), text.end());
    // A name of this run's own, so that two writers never share a half-made file.
    const std::wstring temporary =
        std::wstring(path) + L".tmp-" + std::to_wstring(GetCurrentProcessId());
    {
        UniqueFileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file ||
            !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) ||
            written != bytes.size() || !FlushFileBuffers(file.get())) {
            LogEvent("record",
                     {{"result", "write-failed"}, {"error", ErrorWithText(GetLastError())}});
            DeleteFileW(temporary.c_str());
            return false;
        }
    }
    // A reader holds the record for a moment, and a file that is open cannot
    // be replaced: a few tries, then the old record stays.
    bool moved = false;
    DWORD error = 0;
    for (int attempt = 0; attempt < kRenameTries && !moved; ++attempt) {
        moved = MoveFileExW(temporary.c_str(), path,
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        if (!moved) {
            error = GetLastError();
            Sleep(kRenamePauseMs);
        }
    }
    if (!moved) {
        LogEvent("record", {{"result", "write-failed"}, {"error", ErrorWithText(error)}});
        DeleteFileW(temporary.c_str());
        return false;
    }
    LogEvent("record", {{"result", "written"}, {"version", text.substr(0, text.size() - 1)}});
    return true;
}

VersionRecord RaiseVersionRecord(const std::wstring& version, const wchar_t* path) {
    const VersionRecord record = ReadVersionRecord(path);
    if (record.state == RecordState::kPresent &&
        !IsNewerVersion(ParseVersionQuad(version), ParseVersionQuad(record.version))) {
        return record;
    }
    if (!WriteVersionRecord(version, path)) {
        return record;
    }
    return {RecordState::kPresent, QuadText(ParseVersionQuad(version))};
}

const char* OfferDecisionName(OfferDecision decision) {
    switch (decision) {
        case OfferDecision::kNewer:
            return "newer";
        case OfferDecision::kOlderThanRecorded:
            return "older-than-recorded";
        case OfferDecision::kNotNewer:
            break;
    }
    return "not-newer";
}

OfferDecision DecideOffer(const std::wstring& offered, const std::wstring& installed,
                          const VersionRecord& record) {
    const VersionQuad release = ParseVersionQuad(offered);
    if (!IsNewerVersion(release, ParseVersionQuad(installed))) {
        return OfferDecision::kNotNewer;
    }
    return record.state == RecordState::kPresent &&
                   IsNewerVersion(ParseVersionQuad(record.version), release)
               ? OfferDecision::kOlderThanRecorded
               : OfferDecision::kNewer;
}
