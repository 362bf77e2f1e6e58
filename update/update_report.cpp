#include "update/update_report.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "common/unique_handle.h"
#include "common/utf8.h"
#include "update/office_id.h"
#include "update/pinned_request.h"
#include "update/update_info.h"

namespace {

constexpr DWORD kReportBudgetMs = 2000;
// The report waits for the application to be ready (a window shown, input
// awaited), so that it never competes with its start; an application that
// shows no window holds it this long at most.
constexpr DWORD kApplicationReadyMs = 5000;
constexpr DWORD kReadyPollMs = 20;
constexpr HttpTimeouts kReportTimeouts = {2000, 2000, 2000, 2000};

struct State {
    std::mutex lock;
    bool enabled = false;
    std::string way;
    std::string downloadEnd;
    std::string selfUpdate;
    uint64_t bytes = 0;
    bool delta = false;
    const char* source = "origin";
    DWORD applicationPid = 0;
    std::vector<ReportFields> pending;
};

State& Facts() {
    static State state;
    return state;
}

void AppendEncoded(std::wstring& out, const std::string& value) {
    static const char* const kHex = "0123456789ABCDEF";
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
            (byte >= 'A' && byte <= 'Z') || std::strchr("-._~", byte) != nullptr) {
            out += static_cast<wchar_t>(byte);
        } else {
            out += L'%';
            out += static_cast<wchar_t>(kHex[byte >> 4]);
            out += static_cast<wchar_t>(kHex[byte & 15]);
        }
    }
}

// Self-update results that leave the new updater in place or had nothing to do.
bool SelfUpdateFine(const std::string& result) {
    return result.empty() || result == "ok" || result == "not-newer";
}

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM found) {
    auto* wanted = reinterpret_cast<std::pair<DWORD, HWND>*>(found);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == wanted->first && IsWindowVisible(window)) {
        wanted->second = window;
        return FALSE;
    }
    return TRUE;
}

// Wine answers WaitForInputIdle at once (or too early), so the application
// also has to show a window and answer a message sent to it, which it does
// from its message loop.
void WaitForApplication(DWORD pid) {
    if (pid == 0) {
        return;
    }
    UniqueKernelHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        return;
    }
    const ULONGLONG deadline = GetTickCount64() + kApplicationReadyMs;
    WaitForInputIdle(process.get(), kApplicationReadyMs);
    for (;;) {
        std::pair<DWORD, HWND> shown{pid, nullptr};
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&shown));
        const ULONGLONG now = GetTickCount64();
        DWORD_PTR answer = 0;
        if (shown.second != nullptr && now < deadline &&
            SendMessageTimeoutW(shown.second, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                static_cast<UINT>(deadline - now), &answer) != 0) {
            return;
        }
        if (GetTickCount64() >= deadline ||
            WaitForSingleObject(process.get(), kReadyPollMs) != WAIT_TIMEOUT) {
            return;
        }
    }
}

// The updater's window (if any) is gone from the screen before the report,
// which shows nothing.
BOOL CALLBACK HideOwnWindow(HWND window, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(window)) {
        ShowWindowAsync(window, SW_HIDE);
    }
    return TRUE;
}

void SendOne(const ReportFields& fields, ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    const std::wstring path = BuildReportPath(fields);
    PinnedRequest request;
    RequestOptions options;
    options.timeouts = &kReportTimeouts;
    options.headersDeadlineMs = static_cast<DWORD>(deadline > now ? deadline - now : 1);
    options.deadlineCoversBody = true;
    // The server's answer carries nothing: 204 (or 200) is enough.
    options.acceptNoContent = true;
    const bool ok = OpenPinnedRequest(path, options, request);
    LogEvent("report", {{"result", ok ? "sent" : "failed"},
                        {"outcome", fields.result},
                        {"stage", fields.stage},
                        {"status", request.status},
                        {"failure", ok ? nullptr : request.failure},
                        {"ms", GetTickCount64() - now}});
}

}  // namespace

void EnableUpdateReports() {
    std::lock_guard guard(Facts().lock);
    Facts().enabled = true;
}

void NoteDownloadAttempt(uint64_t bytes, std::initializer_list<LogField> fields) {
    State& s = Facts();
    std::lock_guard guard(s.lock);
    s.bytes += bytes;
    for (const LogField& field : fields) {
        if (std::strcmp(field.key, "end") == 0 || std::strcmp(field.key, "reason") == 0) {
            s.downloadEnd = field.value;
        }
    }
}

void NoteDeltaDownload(uint64_t bytes, bool used) {
    State& s = Facts();
    std::lock_guard guard(s.lock);
    s.bytes += bytes;
    s.delta = used;
}

void NoteDownloadSource(const char* source) {
    std::lock_guard guard(Facts().lock);
    Facts().source = source;
}

void NoteUnpackWay(const char* way) {
    std::lock_guard guard(Facts().lock);
    Facts().way = way;
}

void NoteSelfUpdate(const char* result) {
    std::lock_guard guard(Facts().lock);
    Facts().selfUpdate = result;
}

void NoteApplicationStarted(DWORD pid) {
    std::lock_guard guard(Facts().lock);
    Facts().applicationPid = pid;
}

void NoteAttempt(const char* result, const char* stage, const char* cause) {
    State& s = Facts();
    std::lock_guard guard(s.lock);
    if (!s.enabled) {
        return;
    }
    ReportFields fields{.office = OfficeId(),
                        .from = WideToUtf8(UpdateInfo.installedVersion),
                        .to = WideToUtf8(UpdateInfo.manifest.version),
                        .result = result,
                        .stage = stage,
                        .cause = cause != nullptr ? cause : "",
                        .way = s.way,
                        .bytes = s.bytes,
                        .delta = s.delta,
                        .source = s.source};
    if (std::strcmp(stage, "download") == 0 && fields.cause.empty()) {
        fields.cause = s.downloadEnd.empty() ? "gave-up" : s.downloadEnd;
    }
    if (std::strcmp(result, "installed") == 0 && !SelfUpdateFine(s.selfUpdate)) {
        fields.result = "failed";
        fields.stage = "self-update";
        fields.cause = s.selfUpdate;
    }
    s.pending.push_back(std::move(fields));
    // A next attempt in the same run counts its own bytes and ways.
    s.way.clear();
    s.downloadEnd.clear();
    s.bytes = 0;
    s.delta = false;
    s.source = "origin";
}

std::wstring BuildReportPath(const ReportFields& f) {
    std::wstring path = L"/api/sysboot/report/ZEL_ACC";
    const std::pair<const wchar_t*, std::string> values[] = {{L"?office=", f.office},
                                                             {L"&from=", f.from},
                                                             {L"&to=", f.to},
                                                             {L"&result=", f.result},
                                                             {L"&stage=", f.stage},
                                                             {L"&cause=", f.cause},
                                                             {L"&way=", f.way},
                                                             {L"&bytes=", std::to_string(f.bytes)},
                                                             {L"&delta=", f.delta ? "1" : "0"},
                                                             {L"&source=", f.source}};
    for (const auto& [name, value] : values) {
        path += name;
        AppendEncoded(path, value);
    }
    return path;
}

void SendUpdateReports() noexcept {
    try {
        std::vector<ReportFields> pending;
        DWORD pid = 0;
        {
            std::lock_guard guard(Facts().lock);
            pending.swap(Facts().pending);
            pid = Facts().applicationPid;
        }
        if (pending.empty()) {
            return;
        }
        EnumWindows(HideOwnWindow, 0);
        WaitForApplication(pid);
        const ULONGLONG deadline = GetTickCount64() + kReportBudgetMs;
        for (const ReportFields& fields : pending) {
            if (GetTickCount64() >= deadline) {
                LogEvent("report", {{"result", "skipped"}, {"outcome", fields.result}});
                continue;
            }
            SendOne(fields, deadline);
        }
    } catch (...) {
        // A report is never worth more than the updater's end.
    }
}
