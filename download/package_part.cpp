#include "download/package_part.h"

#include <vector>

#include "download/resume_record.h"

namespace {

constexpr DWORD kReadBackBytes = 1024 * 1024;

bool HashKeptBytes(HANDLE file, uint64_t kept, Sha256& hash) {
    std::vector<char> buffer(static_cast<size_t>(kept < kReadBackBytes ? kept : kReadBackBytes));
    for (uint64_t left = kept; left > 0;) {
        const DWORD wanted = static_cast<DWORD>(left < buffer.size() ? left : buffer.size());
        DWORD read = 0;
        if (!ReadFile(file, buffer.data(), wanted, &read, nullptr)) {
            return false;
        }
        if (read != wanted) {
            SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        hash.Update(buffer.data(), read);
        left -= read;
    }
    return true;
}

}  // namespace

bool OpenPart(const std::wstring& partPath, uint64_t kept, PartFile& out, DWORD& error) {
    if (kept == 0) {
        RemoveResumeRecord(partPath);
    }
    out.file.reset(CreateFileW(partPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               kept == 0 ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    const bool ok = out.file && (kept == 0 || (HashKeptBytes(out.file.get(), kept, out.hash) &&
                                               SetEndOfFile(out.file.get())));
    error = ok ? 0 : GetLastError();
    if (!ok) {
        out.file.reset();
    }
    return ok;
}

uint64_t PartLength(const std::wstring& partPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(partPath.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool FlushPart(const std::wstring& partPath) {
    UniqueFileHandle file(CreateFileW(partPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.get());
}

void DiscardPart(const std::wstring& partPath) {
    RemoveResumeRecord(partPath);
    DeleteFileW(partPath.c_str());
}
