#include "download/download_package.h"

#include <chrono>
#include <cstdint>

#include "app/app_messages.h"
#include "common/unique_handle.h"
#include "download/chunk_writer.h"
#include "download/progress.h"
#include "download/sha256.h"
#include "download/url_path.h"
#include "update/pinned_request.h"
#include "update/update_info.h"

namespace {

constexpr int kAttempts = 3;
constexpr DWORD kPauseAfterFailureMs = 1000;
constexpr HttpTimeouts kDownloadTimeouts = {5000, 5000, 30000, 30000};

struct Transfer {
    uint64_t received = 0;
    bool complete = false;  // the server had nothing more to send
};

// Reads the body chunk by chunk, exactly as WinHTTP offers it, into the writer.
Transfer ReadBody(HINTERNET request, uint32_t contentLength, ChunkWriter& writer, HWND window) {
    Transfer transfer;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            return transfer;
        }
        if (available == 0) {
            transfer.complete = true;
            return transfer;
        }
        DWORD read = 0;
        if (!WinHttpReadData(request, writer.Reserve(available), available, &read)) {
            writer.Commit(0);
            return transfer;
        }
        writer.Commit(read);
        transfer.received += read;

        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        const ProgressValues values =
            ComputeProgress(contentLength, transfer.received, elapsed.count());
        PostProgress(window, values.percent, FormatProgressText(values));
    }
}

bool RunAttempt(const std::wstring& path, const std::wstring& filePath, HWND window,
                const Sha256Digest* expected) {
    RequestOptions options;
    options.timeouts = &kDownloadTimeouts;
    PinnedRequest http;
    if (!OpenPinnedRequest(path, options, http)) {
        return false;
    }
    DWORD contentLength = 0;
    DWORD size = sizeof(contentLength);
    WinHttpQueryHeaders(
        http.request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
        WINHTTP_HEADER_NAME_BY_INDEX, &contentLength, &size, WINHTTP_NO_HEADER_INDEX);

    const std::wstring partPath = filePath + L".part";
    UniqueFileHandle file(CreateFileW(partPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    Sha256Digest digest = {};
    bool ok;
    {
        ChunkWriter writer(file.get());
        const Transfer transfer = ReadBody(http.request.get(), contentLength, writer, window);
        ok = writer.Finish(digest);
        // A cut-off transfer (dropped connection, receive time-out) must not
        // pass for the package.
        ok = ok && (contentLength == 0 ? transfer.complete : transfer.received == contentLength);
    }
    ok = ok && (expected == nullptr || digest == *expected);
    file.reset();
    if (ok && MoveFileExW(partPath.c_str(), filePath.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    DeleteFileW(partPath.c_str());
    return false;
}

}  // namespace

void PostProgress(HWND window, unsigned percent, std::wstring text) {
    auto* owned = new std::wstring(std::move(text));
    if (!PostMessageW(window, WM_APP_PROGRESS, percent, reinterpret_cast<LPARAM>(owned))) {
        delete owned;
    }
}

bool DownloadPackage(const std::wstring& url, const std::wstring& filePath, HWND window) {
    const std::wstring path = RequestPathFromUrl(url);
    // A manifest without a well-formed digest is downloaded unchecked, as
    // older servers send none.
    Sha256Digest expected;
    const bool check = ParseSha256Hex(UpdateInfo.manifest.sha256, expected);
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (RunAttempt(path, filePath, window, check ? &expected : nullptr)) {
            return true;
        }
        Sleep(kPauseAfterFailureMs);
    }
    return false;
}
