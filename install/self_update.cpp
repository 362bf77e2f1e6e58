#include "install/self_update.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "common/log.h"
#include "common/unique_handle.h"
#include "common/utf8.h"
#include "update/update_report.h"

namespace {

constexpr const wchar_t* kCandidatePath = L"ZEL\\zel_updater.exe";
// A working updater answers at once; this bounds a hung or hostile one.
constexpr DWORD kSelfCheckMs = 5000;
constexpr const wchar_t* kIncomingSuffix = L".incoming.exe";
constexpr const wchar_t* kSetAsideMark = L".old-";

std::wstring OwnPath() {
    std::wstring path(MAX_PATH * 2, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

// "C:\office\zel_updater" for "C:\office\zel_updater.exe".
std::wstring WithoutExtension(const std::wstring& path) {
    const size_t dot = path.find_last_of(L'.');
    const size_t slash = path.find_last_of(L"\\/");
    return dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)
               ? path.substr(0, dot)
               : path;
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

// Runs the program with the self-check argument; what it reported, when it
// ended with 0 in time.
std::optional<std::string> RunSelfCheck(const std::wstring& path) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        return std::nullopt;
    }
    UniqueKernelHandle reader(readEnd);
    UniqueKernelHandle writer(writeEnd);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();
    std::wstring commandLine = L"\"" + path + L"\" " + kSelfCheckArgument;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info)) {
        return std::nullopt;
    }
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    writer.reset();
    if (WaitForSingleObject(process.get(), kSelfCheckMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), kSelfCheckMs);
        return std::nullopt;
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    std::string output;
    char buffer[256];
    DWORD read = 0;
    while (output.size() < 4096 && ReadFile(reader.get(), buffer, sizeof(buffer), &read, nullptr) &&
           read > 0) {
        output.append(buffer, read);
    }
    if (exitCode != 0) {
        return std::nullopt;
    }
    return output;
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

}  // namespace

bool IsSelfCheckRun() {
    const wchar_t* line = GetCommandLineW();
    const size_t length = std::wcslen(line);
    const size_t argument = std::wcslen(kSelfCheckArgument);
    return length >= argument && std::wcscmp(line + length - argument, kSelfCheckArgument) == 0;
}

int AnswerSelfCheck(const char* version) {
    const std::string text = std::string("version=") + version + "\n";
    DWORD written = 0;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return out != nullptr && out != INVALID_HANDLE_VALUE &&
                   WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)
               ? 0
               : 1;
}

void UpdateSelfFromInstallation() {
    const auto candidateVersion = FileVersion(kCandidatePath);
    if (!candidateVersion && GetFileAttributesW(kCandidatePath) == INVALID_FILE_ATTRIBUTES) {
        return;  // the release carries no updater
    }
    const std::wstring own = OwnPath();
    const auto ownVersion = FileVersion(own);
    const std::string from = VersionText(ownVersion);
    const std::string to = VersionText(candidateVersion);
    if (!candidateVersion || !ownVersion || *candidateVersion <= *ownVersion) {
        LogResult(from, to, "not-newer");
        return;
    }
    // The copy is what gets checked and moved in: ZEL stays as the release
    // made it.
    const std::wstring incoming = WithoutExtension(own) + kIncomingSuffix;
    if (!CopyFileW(kCandidatePath, incoming.c_str(), FALSE)) {
        LogResult(from, to, "copy-failed", GetLastError());
        return;
    }
    const std::optional<std::string> answer = RunSelfCheck(incoming);
    if (!answer || *answer != "version=" + to + "\n") {
        DeleteFileW(incoming.c_str());
        LogResult(from, to, "self-check-failed");
        return;
    }
    // A running program may be renamed, not replaced.
    const std::wstring aside = own + kSetAsideMark + std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(GetTickCount64());
    if (!MoveWritten(own, aside)) {
        const DWORD error = GetLastError();
        DeleteFileW(incoming.c_str());
        LogResult(from, to, "set-aside-failed", error);
        return;
    }
    if (!MoveWritten(incoming, own)) {
        const DWORD error = GetLastError();
        const bool back = MoveWritten(aside, own);
        DeleteFileW(incoming.c_str());
        LogResult(from, to, back ? "put-back" : "put-back-failed", error);
        return;
    }
    LogResult(from, to, "ok");
}

void TidySelfUpdateLeftovers() {
    const std::wstring own = OwnPath();
    const size_t slash = own.find_last_of(L'\\');
    const std::wstring folder = slash == std::wstring::npos ? L"" : own.substr(0, slash + 1);
    std::vector<std::wstring> leftovers = {WithoutExtension(own) + kIncomingSuffix};
    WIN32_FIND_DATAW found = {};
    UniqueFindHandle find(FindFirstFileW((own + kSetAsideMark + L"*").c_str(), &found));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &found)) {
        leftovers.push_back(folder + found.cFileName);
    }
    for (const std::wstring& path : leftovers) {
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        const bool removed = DeleteFileW(path.c_str()) != FALSE;
        LogEvent("self_update.cleanup",
                 {{"path", path},
                  {"result", removed ? "ok" : "failed"},
                  {"error", removed ? std::string() : ErrorWithText(GetLastError())}});
    }
}
