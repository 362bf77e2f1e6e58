// The updater's log: one line per event appended to zel_updater.log in the
// office folder, for support staff to read. Each line holds the local time
// with milliseconds, the process and thread ids, the event name and its
// figures as key=value pairs:
//   2026-12-06 23:41:07.118 pid=412 tid=416 http path=/releases/zel.zip status=200
// A field without a value is left out; a value with blanks or quotes is
// quoted. Each line is one write, so lines of two runs never interleave. A
// log that cannot be written is skipped, and one locked by another program
// is waited for only briefly: logging never changes or stalls what the
// updater does.
#pragma once

#include <windows.h>

#include <concepts>
#include <initializer_list>
#include <string>

struct LogField {
    LogField(const char* k, const std::string& v) : key(k), value(v) {}
    LogField(const char* k, const char* v) : key(k), value(v != nullptr ? v : "") {}
    LogField(const char* k, const std::wstring& v);
    LogField(const char* k, const wchar_t* v);
    LogField(const char* k, bool v) : key(k), value(v ? "yes" : "no") {}
    LogField(const char* k, double v);  // three decimals
    template <std::integral T>
    LogField(const char* k, T v) : key(k), value(std::to_string(v)) {}

    const char* key;
    std::string value;
};

void LogEvent(const char* event, std::initializer_list<LogField> fields = {});

// "12029 (A connection with the server could not be established)": the code
// with the system's English message, WinHTTP's codes included.
std::string ErrorWithText(DWORD code);

// Rotation threshold: past this size the log becomes zel_updater.log.1.
inline constexpr unsigned long long kLogRotateBytes = 1024 * 1024;
// How long a line waits for the log's lock that another program holds.
inline constexpr DWORD kLogLockWaitMs = 1000;
