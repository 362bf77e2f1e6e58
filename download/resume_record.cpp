#include "download/resume_record.h"

#include <windows.h>

#include <algorithm>

#include "common/unique_handle.h"
#include "common/utf8.h"

namespace {

constexpr DWORD kMaxRecordBytes = 16 * 1024;
constexpr size_t kMaxValidatorChars = 256;

std::wstring Wide(const std::string& utf8) {
    std::wstring text;
    Utf8ToWide(utf8, text);
    return text;
}

}  // namespace

bool IsSendableValidator(const std::wstring& validator) {
    return !validator.empty() && validator.size() <= kMaxValidatorChars &&
           std::ranges::all_of(validator, [](wchar_t c) { return c >= 0x20 && c < 0x7F; });
}

std::string FormatResumeRecord(const ResumeRecord& record) {
    return "path=" + WideToUtf8(record.path) + "\nsha256=" + WideToUtf8(record.sha256) +
           "\nvalidator=" + WideToUtf8(record.validator) +
           "\ntotal=" + std::to_string(record.total) + "\nkept=" + std::to_string(record.kept) +
           "\n";
}

std::optional<ResumeRecord> ParseResumeRecord(const std::string& text) {
    ResumeRecord record;
    std::optional<uint64_t> total, kept;
    bool hasPath = false;
    // Read by hand rather than with a string stream: iostreams would pull the
    // C++ library's locale machinery into the executable, several times its
    // own size.
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            return std::nullopt;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "path") {
            record.path = Wide(value);
            hasPath = true;
        } else if (key == "sha256") {
            record.sha256 = Wide(value);
        } else if (key == "validator") {
            record.validator = Wide(value);
        } else if (key == "total") {
            total = ParseContentLength(Wide(value));
        } else if (key == "kept") {
            kept = ParseContentLength(Wide(value));
        }
    }
    if (!hasPath || !IsSendableValidator(record.validator) || !total || !kept || *total == 0 ||
        *kept > *total) {
        return std::nullopt;
    }
    record.total = *total;
    record.kept = *kept;
    return record;
}

bool RecordContinues(const ResumeRecord& record, const std::wstring& path,
                     const std::wstring& sha256, uint64_t partLength) {
    return record.path == path && record.sha256 == sha256 && record.kept > 0 &&
           record.kept < record.total && partLength >= record.kept;
}

bool RangeContinues(const ResumeRecord& record, const ContentRange& range) {
    return range.first == record.kept && range.total == record.total &&
           range.last + 1 == range.total;
}

std::wstring ResumeRecordPath(const std::wstring& partPath) {
    return partPath + L".resume";
}

std::optional<ResumeRecord> LoadResumeRecord(const std::wstring& partPath) {
    UniqueFileHandle file(CreateFileW(ResumeRecordPath(partPath).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string text(kMaxRecordBytes, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data(), kMaxRecordBytes, &read, nullptr) ||
        read == kMaxRecordBytes) {
        return std::nullopt;
    }
    text.resize(read);
    return ParseResumeRecord(text);
}

bool SaveResumeRecord(const std::wstring& partPath, const ResumeRecord& record) {
    const std::wstring path = ResumeRecordPath(partPath);
    const std::wstring fresh = path + L".new";
    const std::string text = FormatResumeRecord(record);
    {
        UniqueFileHandle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file ||
            !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                       nullptr) ||
            written != text.size() || !FlushFileBuffers(file.get())) {
            return false;
        }
    }
    return MoveFileExW(fresh.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveResumeRecord(const std::wstring& partPath) {
    DeleteFileW(ResumeRecordPath(partPath).c_str());
}
