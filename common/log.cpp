#include "common/log.h"

#include <atomic>
#include <cstdio>

#include "common/office_paths.h"
#include "common/unique_handle.h"
#include "common/utf8.h"

namespace {

bool NeedsQuotes(const std::string& value) {
    return value.find_first_of(" \t\r\n\"=") != std::string::npos;
}

void AppendValue(std::string& line, const std::string& value) {
    if (!NeedsQuotes(value)) {
        line += value;
        return;
    }
    line += '"';
    for (char c : value) {
        switch (c) {
            case '"':
                line += "\\\"";
                break;
            case '\\':
                line += "\\\\";
                break;
            case '\r':
                line += "\\r";
                break;
            case '\n':
                line += "\\n";
                break;
            default:
                line += c;
        }
    }
    line += '"';
}

std::string LinePrefix() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char prefix[96];
    std::snprintf(prefix, sizeof(prefix), "%04u-%02u-%02u %02u:%02u:%02u.%03u pid=%lu tid=%lu ",
                  now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                  now.wMilliseconds, GetCurrentProcessId(), GetCurrentThreadId());
    return prefix;
}

// Whether the handle and the name lead to the same file: after another run
// rotated the log, a handle opened before may hold the older one.
bool IsCurrentLog(HANDLE file) {
    UniqueFileHandle named(CreateFileW(kLogFile, 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION a, b;
    return named && GetFileInformationByHandle(file, &a) &&
           GetFileInformationByHandle(named.get(), &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Set once the lock could not be had in time, until it is had again: a run
// then waits for it only once, not at every line.
std::atomic<bool> g_lockHeldElsewhere{false};

// Takes the log's lock, waiting for it a short while. A line is worth little
// beside the start of the office's application, so a program that keeps the
// byte locked (a hung run, a backup or scanning tool) costs a run one wait
// at most; its lines then go in unlocked. Returns whether the lock is held,
// and says in `busy` whether someone else holds it.
bool LockLog(HANDLE file, OVERLAPPED& lockRange, bool& busy) {
    const ULONGLONG end = GetTickCount64() + (g_lockHeldElsewhere ? 0 : kLogLockWaitMs);
    for (;;) {
        lockRange = {};
        lockRange.OffsetHigh = 0x7FFFFFFF;
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &lockRange)) {
            g_lockHeldElsewhere = false;
            busy = false;
            return true;
        }
        busy = GetLastError() == ERROR_LOCK_VIOLATION;
        if (!busy || GetTickCount64() >= end) {
            g_lockHeldElsewhere = g_lockHeldElsewhere || busy;
            return false;
        }
        Sleep(1);
    }
}

// Opens the log for one line and takes its lock, on a byte far past any real
// data so readers are never held up. Past the threshold the log is set aside,
// replacing the older one, by the one run that holds the lock and finds the
// name still leading to the full file; a run that opened it before that sees
// it renamed and opens the fresh one. So two runs never rotate twice.
UniqueFileHandle OpenLockedLog(OVERLAPPED& lockRange, bool& locked) {
    for (int tries = 1;; ++tries) {
        UniqueFileHandle file(CreateFileW(kLogFile, FILE_APPEND_DATA | GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return file;
        }
        bool busy = false;
        locked = LockLog(file.get(), lockRange, busy);
        LARGE_INTEGER size = {};
        // Without the lock that others hold, the rotation is left to them.
        if (busy || tries == 3 || !GetFileSizeEx(file.get(), &size) ||
            static_cast<unsigned long long>(size.QuadPart) <= kLogRotateBytes) {
            return file;
        }
        const bool current = IsCurrentLog(file.get());
        if (current && !MoveFileExW(kLogFile, kOldLogFile, MOVEFILE_REPLACE_EXISTING)) {
            return file;  // cannot be set aside now: the line still goes in
        }
        if (locked) {
            UnlockFileEx(file.get(), 0, 1, 0, &lockRange);
            locked = false;
        }
    }
}

// WinHTTP's own texts, for systems whose winhttp.dll carries no message table
// (Wine's does not), so that support still reads what the code means.
const char* WinHttpErrorText(DWORD code) {
    switch (code) {
        case 12002:
            return "The operation timed out";
        case 12007:
            return "The server name could not be resolved";
        case 12017:
            return "The operation was canceled";
        case 12029:
            return "A connection with the server could not be established";
        case 12030:
            return "The connection with the server was terminated abnormally";
        case 12037:
            return "The certificate date is invalid";
        case 12038:
            return "The certificate common name is invalid";
        case 12044:
            return "The server requests a client certificate";
        case 12045:
            return "The certificate was issued by an unknown authority";
        case 12152:
            return "The server response could not be parsed";
        case 12157:
            return "An error occurred in the secure channel support";
        case 12166:
            return "The proxy auto-configuration script has an error";
        case 12167:
            return "The proxy auto-configuration script could not be downloaded";
        case 12175:
            return "A security error occurred";
        case 12180:
            return "Proxy auto-detection found no configuration";
        default:
            return nullptr;
    }
}

}  // namespace

LogField::LogField(const char* k, const std::wstring& v) : key(k), value(WideToUtf8(v)) {}

LogField::LogField(const char* k, const wchar_t* v)
    : key(k), value(v != nullptr ? WideToUtf8(v) : std::string()) {}

LogField::LogField(const char* k, double v) : key(k) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", v);
    value = text;
}

void LogEvent(const char* event, std::initializer_list<LogField> fields) {
    try {
        std::string line = LinePrefix() + event;
        for (const LogField& field : fields) {
            if (field.value.empty()) {
                continue;  // nothing to say: "error=" on a success reads as noise
            }
            line += ' ';
            line += field.key;
            line += '=';
            AppendValue(line, field.value);
        }
        line += "\r\n";
        // Opened for each line, so that a rotation by another run is seen at
        // once. An append-only handle writes each line whole at the end; the
        // lock keeps two runs from appending at once where the platform
        // emulates appends (Wine loses lines without it).
        OVERLAPPED lockRange = {};
        bool locked = false;
        UniqueFileHandle file = OpenLockedLog(lockRange, locked);
        if (!file) {
            return;
        }
        DWORD written = 0;
        WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        if (locked) {
            UnlockFileEx(file.get(), 0, 1, 0, &lockRange);
        }
    } catch (...) {
        // Out of memory while formatting: the line is lost, the run goes on.
    }
}

std::string ErrorWithText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    HMODULE winhttp = GetModuleHandleW(L"winhttp.dll");
    const bool fromWinHttp = code >= 12000 && code < 13000 && winhttp != nullptr;
    flags |= fromWinHttp ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    DWORD length = FormatMessageW(flags, fromWinHttp ? winhttp : nullptr, code, english,
                                  reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0) {
        // No English text installed: any language is better than none.
        length = FormatMessageW(flags, fromWinHttp ? winhttp : nullptr, code, 0,
                                reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    }
    std::wstring text;
    if (length > 0 && buffer != nullptr) {
        text.assign(buffer, length);
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' ||
                                 text.back() == L' ' || text.back() == L'.')) {
            text.pop_back();
        }
    }
    LocalFree(buffer);
    std::string result = std::to_string(code);
    if (!text.empty()) {
        result += " (" + WideToUtf8(text) + ")";
    } else if (const char* known = WinHttpErrorText(code)) {
        result += std::string(" (") + known + ")";
    }
    return result;
}
