#include "update/mandatory_record.h"

#include <cstdio>

#include "common/log.h"
#include "common/utf8.h"
#include "update/office_id.h"
#include "update/version_quad.h"

namespace {

constexpr ULONGLONG kTicksPerDay = 10000000ULL * 60 * 60 * 24;

ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

ULONGLONG Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

}  // namespace

void RecordMandatorySeen(const std::wstring& version) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02uT%02u:%02u:%02uZ ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    if (!WriteOfficeFile(kMandatorySeenFile, stamp + WideToUtf8(version), true)) {
        LogEvent("mandatory.record",
                 {{"result", "failed"}, {"error", ErrorWithText(GetLastError())}});
    }
}

bool MandatoryStillBlocks(const std::string& record, const std::wstring& installed, ULONGLONG now,
                          int graceDays) {
    SYSTEMTIME seen = {};
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int used = 0;
    if (std::sscanf(record.c_str(), "%4u-%2u-%2uT%2u:%2u:%2uZ %n", &year, &month, &day, &hour,
                    &minute, &second, &used) != 6 ||
        used <= 0) {
        return false;
    }
    seen.wYear = static_cast<WORD>(year);
    seen.wMonth = static_cast<WORD>(month);
    seen.wDay = static_cast<WORD>(day);
    seen.wHour = static_cast<WORD>(hour);
    seen.wMinute = static_cast<WORD>(minute);
    seen.wSecond = static_cast<WORD>(second);
    FILETIME seenTime;
    std::wstring version;
    if (!SystemTimeToFileTime(&seen, &seenTime) || !Utf8ToWide(record.substr(used), version)) {
        return false;
    }
    if (!IsNewerVersion(ParseVersionQuad(version), ParseVersionQuad(installed))) {
        return false;
    }
    const ULONGLONG at = Ticks(seenTime);
    return at > now || now - at < static_cast<ULONGLONG>(graceDays) * kTicksPerDay;
}

bool MandatoryReleaseBlocksStart(const std::wstring& installed, int graceDays,
                                 std::string& record) {
    return ReadOfficeFile(kMandatorySeenFile, record) &&
           MandatoryStillBlocks(record, installed, Now(), graceDays);
}
