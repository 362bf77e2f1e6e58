// When a mandatory release was last offered, kept in the office folder. A
// build that starts the application while the server cannot be reached still
// holds it back for a while after a mandatory release was seen: such a
// release usually mends something the old one must not go on doing.
#pragma once

#include <windows.h>

#include <string>

inline constexpr const wchar_t* kMandatorySeenFile = L"zel_updater.mandatory";

// Written ("YYYY-MM-DDTHH:MM:SSZ <version>") each time the check offers a
// mandatory release newer than the installed one.
void RecordMandatorySeen(const std::wstring& version);

// Whether a record still blocks an office running `installed` at `now` (UTC,
// FILETIME ticks): the release it names is newer and was seen less than
// `graceDays` ago (or later than now, after a clock change). A record that
// cannot be read blocks nothing.
bool MandatoryStillBlocks(const std::string& record, const std::wstring& installed, ULONGLONG now,
                          int graceDays);

// The same for this office's record, at the system's time; `record` gets the
// record's text for the log.
bool MandatoryReleaseBlocksStart(const std::wstring& installed, int graceDays, std::string& record);
