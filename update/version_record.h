// The highest version of the application this office ever installed or read
// as installed, kept in a small file beside the lock. A release below it is
// never installed, whatever the installed version reads as now: a quarantined
// or damaged application must not turn an old signed release into an update.
#pragma once

#include <optional>
#include <string>

inline constexpr const wchar_t* kVersionRecordFile = L"zel_updater.highest";

// The file's text: four decimal numbers joined by "." and one "\n". Nothing
// for anything else (a damaged record reads as none).
std::optional<std::wstring> ParseVersionRecord(const std::string& bytes);

enum class RecordState { kPresent, kMissing, kDamaged };

struct VersionRecord {
    RecordState state = RecordState::kMissing;
    std::wstring version;  // when present
};

// Reads `path` without keeping a writer from replacing it.
VersionRecord ReadVersionRecord(const wchar_t* path = kVersionRecordFile);

// Writes `version` through a temporary file and a rename, so that a reader
// sees the old record or the new one, never a part. False (logged) on failure.
bool WriteVersionRecord(const std::wstring& version, const wchar_t* path = kVersionRecordFile);

// Writes `version` when the record is missing, damaged (logged) or lower.
// The record as it stands afterwards (or as read, when the write failed).
VersionRecord RaiseVersionRecord(const std::wstring& version,
                                 const wchar_t* path = kVersionRecordFile);

enum class OfferDecision { kNewer, kNotNewer, kOlderThanRecorded };

// As logged: newer, not-newer, older-than-recorded.
const char* OfferDecisionName(OfferDecision decision);

// Newer when above the installed version (which reads "0.0.0.0" when it
// could not be read) and not below the record: a missing application is
// repaired with a release at or above the record, never with an older one.
OfferDecision DecideOffer(const std::wstring& offered, const std::wstring& installed,
                          const VersionRecord& record);
