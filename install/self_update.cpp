#include "install/self_update.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/unique_handle.h"
#include "install/app_processes.h"
#include "install/self_check.h"
#include "common/utf8.h"
#include "update/update_report.h"

namespace {

constexpr const wchar_t* kCandidatePath = L"ZEL\\zel_updater.exe";
constexpr const wchar_t* kSetAsideMark = L".old-";
// A whole start takes the lock, heals the folders (seconds), searches the
// proxy (2 s) and checks (30 s, once more without the proxy): far less.
#ifndef ZEL_TRIAL_BOUND_MS
#define ZEL_TRIAL_BOUND_MS (5 * 60 * 1000)
#endif

// The names of one updater's copies, all in its folder:
// zel_updater.exe, zel_updater.previous.exe, zel_updater.incoming.exe and
// zel_updater.trial-*. Any of the copies may be the one running.
struct UpdaterFiles {
    std::wstring folder;
    std::wstring current;
    std::wstring previous;
    std::wstring incoming;
    std::wstring trialPrefix;
};

std::wstring OwnPath() {
    std::wstring path(MAX_PATH * 2, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() &&
           CompareStringOrdinal(text.c_str() + text.size() - end.size(),
                                static_cast<int>(end.size()), end.c_str(),
                                static_cast<int>(end.size()), TRUE) == CSTR_EQUAL;
}

UpdaterFiles FilesOf(const std::wstring& own) {
    const size_t slash = own.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : own.substr(0, slash + 1);
    std::wstring base = own.substr(folder.size());
    for (const wchar_t* end : {L".exe", L".previous", L".incoming"}) {
        if (EndsWith(base, end)) {
            base.resize(base.size() - std::wcslen(end));
        }
    }
    const std::wstring stem = folder + base;
    return {folder, stem + L".exe", stem + L".previous.exe", stem + L".incoming.exe",
            stem + L".trial-"};
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring FileName(const std::wstring& path) {
    return path.substr(path.find_last_of(L"\\/") + 1);
}

std::optional<uint64_t> FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<unsigned char> buffer(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, buffer.data()) ||
        !VerQueryValueW(buffer.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    return (static_cast<uint64_t>(info->dwFileVersionMS) << 32) | info->dwFileVersionLS;
}

std::string VersionText(std::optional<uint64_t> version) {
    if (!version) {
        return "unreadable";
    }
    std::string text;
    for (int shift = 48; shift >= 0; shift -= 16) {
        text += std::to_string((*version >> shift) & 0xFFFF) + (shift > 0 ? "." : "");
    }
    return text;
}

std::string ErrorIf(bool failed) {
    return failed ? ErrorWithText(GetLastError()) : std::string();
}

void LogResult(const std::string& from, const std::string& to, const char* result,
               DWORD error = 0) {
    NoteSelfUpdate(result);
    LogEvent("self_update", {{"from", from},
                             {"to", to},
                             {"result", result},
                             {"error", error != 0 ? ErrorWithText(error) : ""}});
}

bool MoveWritten(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

// A copy is on disk as a whole before any name points at it.
bool CopyWritten(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        return false;
    }
    UniqueFileHandle file(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.get());
}

// The failed updater may be running, so it is renamed, not removed (the next
// start removes it), and the previous one takes its name. Between the two
// renames no zel_updater.exe exists; the previous copy holds the updater.
bool PutPreviousBack(const UpdaterFiles& files, const char* reason) {
    const std::string from = VersionText(FileVersion(files.current));
    const std::string to = VersionText(FileVersion(files.previous));
    const std::wstring aside = files.current + kSetAsideMark +
                               std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(GetTickCount64());
    const bool setAside = !Exists(files.current) || MoveWritten(files.current, aside);
    const bool back = setAside && MoveWritten(files.previous, files.current);
    const std::string error = ErrorIf(!back);
    if (setAside && !back && !Exists(files.current)) {
        MoveWritten(aside, files.current);
    }
    LogEvent("self_update.rollback", {{"from", from},
                                      {"to", to},
                                      {"reason", reason},
                                      {"result", back ? "ok" : "failed"},
                                      {"error", error}});
    return back;
}

// Starts the updater in place to make this start, and ends this run. Returns
// only when it could not be started; this run then goes on itself.
void HandStartTo(const std::wstring& path) {
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    const bool started = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                        0, nullptr, nullptr, &startup, &info) != FALSE;
    LogEvent("self_update.handover",
             {{"to", path}, {"result", started ? "ok" : "failed"}, {"error", ErrorIf(!started)}});
    if (started) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        EndUpdater("the start was handed to the updater in place");
    }
}

// This run's trial, when the updater in place is on trial.
struct Trial {
    UpdaterFiles files;
    std::wstring markerPath;
    UniqueFileHandle marker;
    UniqueKernelHandle ended;
    std::atomic<bool> decided = false;
};
Trial g_trial;

void RemoveMarker() {
    g_trial.marker.reset();
    DeleteFileW(g_trial.markerPath.c_str());
}

// A start that neither ends nor completes within the bound is a failure too:
// a hung start holds the office's lock and shows nothing.
DWORD WINAPI WatchTrial(void*) {
    if (WaitForSingleObject(g_trial.ended.get(), ZEL_TRIAL_BOUND_MS) == WAIT_TIMEOUT &&
        !g_trial.decided.exchange(true)) {
        LogEvent("self_update.trial", {{"result", "timeout"}});
        const bool back = PutPreviousBack(g_trial.files, "start-timeout");
        RemoveMarker();
        if (back) {
            // It finds the lock held until this process has ended, and then
            // starts the application as it is.
            std::wstring commandLine = L"\"" + g_trial.files.current + L"\"";
            STARTUPINFOW startup = {};
            startup.cb = sizeof(startup);
            PROCESS_INFORMATION info = {};
            if (CreateProcessW(g_trial.files.current.c_str(), commandLine.data(), nullptr, nullptr,
                               FALSE, 0, nullptr, nullptr, &startup, &info)) {
                CloseHandle(info.hThread);
                CloseHandle(info.hProcess);
            }
        }
        LogEvent("end", {{"exit_code", 1}, {"reason", "the start did not complete in time"}});
        // The main thread may hold any lock; ending it from here must not wait.
        TerminateProcess(GetCurrentProcess(), 1);
    }
    return 0;
}

void MarkTrial(const UpdaterFiles& files, const char* version) {
    g_trial.files = files;
    g_trial.markerPath = files.trialPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                         std::to_wstring(GetTickCount64());
    // Held without delete sharing until the start ends: while this process
    // lives nobody can remove it, and once it is gone anybody can.
    g_trial.marker.reset(CreateFileW(g_trial.markerPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                     nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string error = ErrorIf(!g_trial.marker);
    g_trial.ended.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueKernelHandle watch;
    if (g_trial.marker && g_trial.ended) {
        watch.reset(CreateThread(nullptr, 64 * 1024, WatchTrial, nullptr,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    }
    LogEvent(
        "self_update.trial",
        {{"version", version}, {"result", g_trial.marker ? "begun" : "failed"}, {"error", error}});
}

}  // namespace

void BeginStartOfRun(const char* version) {
    const std::wstring own = OwnPath();
    const UpdaterFiles files = FilesOf(own);
    // A replacement cut between its two renames: the incoming copy is whole
    // and was checked before the first one.
    if (!Exists(files.current)) {
        for (const std::wstring& copy : {files.incoming, files.previous}) {
            if (Exists(copy)) {
                const bool healed = MoveWritten(copy, files.current);
                LogEvent("self_update.heal", {{"from", FileName(copy)},
                                              {"result", healed ? "ok" : "failed"},
                                              {"error", ErrorIf(!healed)}});
                break;
            }
        }
    }
    // A marker nobody holds is a trial run that ended without finishing its
    // start. Two runs may find it at once; only the one that removes it acts.
    bool died = false;
    WIN32_FIND_DATAW found = {};
    UniqueFindHandle find(FindFirstFileW((files.trialPrefix + L"*").c_str(), &found));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &found)) {
        died |= DeleteFileW((files.folder + found.cFileName).c_str()) != FALSE;
    }
    find.reset();
    if (died && Exists(files.previous)) {
        LogEvent("self_update.trial",
                 {{"version", VersionText(FileVersion(files.current))}, {"result", "died"}});
        if (PutPreviousBack(files, "unfinished-start")) {
            HandStartTo(files.current);
        }
    }
    // Started under another name (after a cut, or by hand): the updater in
    // place makes the start, and makes its trial if it is on one.
    if (!EndsWith(own, L"\\" + FileName(files.current)) && Exists(files.current)) {
        HandStartTo(files.current);
    }
    if (Exists(files.previous)) {
        MarkTrial(files, version);
    }
}

void EndStartOfRun(StartOutcome outcome) {
    if (!g_trial.marker || g_trial.decided.exchange(true)) {
        return;
    }
    SetEvent(g_trial.ended.get());
    if (outcome == StartOutcome::kCompleted) {
        const bool removed = DeleteFileW(g_trial.files.previous.c_str()) != FALSE;
        LogEvent("self_update.trial", {{"result", "passed"},
                                       {"previous", removed ? "removed" : "kept"},
                                       {"error", ErrorIf(!removed)}});
    } else if (outcome == StartOutcome::kFailed) {
        LogEvent("self_update.trial", {{"result", "failed"}});
        PutPreviousBack(g_trial.files, "failed-start");
    } else {
        LogEvent("self_update.trial", {{"result", "undecided"}});
    }
    RemoveMarker();
}

void UpdateSelfFromInstallation() {
    const auto candidateVersion = FileVersion(kCandidatePath);
    if (!candidateVersion && GetFileAttributesW(kCandidatePath) == INVALID_FILE_ATTRIBUTES) {
        return;  // the release carries no updater
    }
    const UpdaterFiles files = FilesOf(OwnPath());
    const auto ownVersion = FileVersion(files.current);
    const std::string from = VersionText(ownVersion);
    const std::string to = VersionText(candidateVersion);
    if (!candidateVersion || !ownVersion || *candidateVersion <= *ownVersion) {
        LogResult(from, to, "not-newer");
        return;
    }
    // The copy is what gets checked and moved in: ZEL stays as the release
    // made it.
    if (!CopyWritten(kCandidatePath, files.incoming)) {
        const DWORD error = GetLastError();
        DeleteFileW(files.incoming.c_str());
        LogResult(from, to, "copy-failed", error);
        return;
    }
    const std::optional<UpdaterIdentity> candidate = RunSelfCheck(files.incoming);
    if (!candidate || candidate->version != to) {
        DeleteFileW(files.incoming.c_str());
        LogResult(from, to, "self-check-failed");
        return;
    }
    // Another server, pins or release keys would take the office out of the
    // vendor's hands; only a signed key hand-over may change them.
    if (!MayReplace(BuiltInIdentity(from.c_str()), *candidate)) {
        DeleteFileW(files.incoming.c_str());
        LogResult(from, to, "identity-differs");
        return;
    }
    // This run completed its start, so no earlier trial is open; a copy left
    // from one would only stand in the way.
    DeleteFileW(files.previous.c_str());
    // A running program may be renamed, not replaced. From the first rename
    // to the second, no zel_updater.exe exists: the previous and the incoming
    // copies are both whole, and the next start of either puts the incoming
    // one in place.
    if (!MoveWritten(files.current, files.previous)) {
        const DWORD error = GetLastError();
        DeleteFileW(files.incoming.c_str());
        LogResult(from, to, "set-aside-failed", error);
        return;
    }
    if (!MoveWritten(files.incoming, files.current)) {
        const DWORD error = GetLastError();
        const bool back = MoveWritten(files.previous, files.current);
        if (back) {  // else either copy heals at its next start
            DeleteFileW(files.incoming.c_str());
        }
        LogResult(from, to, back ? "put-back" : "put-back-failed", error);
        return;
    }
    LogResult(from, to, "ok");
}

void TidySelfUpdateLeftovers() {
    const UpdaterFiles files = FilesOf(OwnPath());
    std::vector<std::wstring> leftovers;
    // The incoming copy is half-made only while zel_updater.exe exists; without
    // it, the start began by moving it in.
    if (Exists(files.current)) {
        leftovers.push_back(files.incoming);
    }
    WIN32_FIND_DATAW found = {};
    UniqueFindHandle find(FindFirstFileW((files.current + kSetAsideMark + L"*").c_str(), &found));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &found)) {
        leftovers.push_back(files.folder + found.cFileName);
    }
    for (const std::wstring& path : leftovers) {
        if (!Exists(path)) {
            continue;
        }
        const bool removed = DeleteFileW(path.c_str()) != FALSE;
        LogEvent(
            "self_update.cleanup",
            {{"path", path}, {"result", removed ? "ok" : "failed"}, {"error", ErrorIf(!removed)}});
    }
}
