// What the next attempt, or the next run, needs to continue a cut download
// safely. It lies beside the part file and describes only bytes that were
// flushed to disk before it was written, so after a power cut the part may be
// longer than the record says, never shorter in a way that goes unnoticed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "download/length_headers.h"

struct ResumeRecord {
    std::wstring path;       // the request path the bytes came from
    std::wstring sha256;     // the manifest's digest as given; empty when none
    std::wstring validator;  // the server's ETag, else its Last-Modified
    uint64_t total = 0;      // the whole file's length
    uint64_t kept = 0;       // bytes of the part file that are on disk
};

// Whether a validator can go into a request header as it is: printable
// ASCII, and no longer than any real server's ETag or date.
bool IsSendableValidator(const std::wstring& validator);

// Lines of "key=value" in UTF-8.
std::string FormatResumeRecord(const ResumeRecord& record);
// Nothing for a record that is incomplete or inconsistent: a sendable
// validator and a total are required, and kept lies inside the file.
std::optional<ResumeRecord> ParseResumeRecord(const std::string& text);

// Whether a download may continue from the record: the same request path and
// the same expected digest (or the same absence of one), some bytes kept and
// some missing, and a part on disk that still holds the kept ones.
bool RecordContinues(const ResumeRecord& record, const std::wstring& path,
                     const std::wstring& sha256, uint64_t partLength);
// Whether a partial answer continues the record: the rest of a file of the
// same length, from the first byte the part lacks.
bool RangeContinues(const ResumeRecord& record, const ContentRange& range);

// The record's file for a part file: "<part>.resume".
std::wstring ResumeRecordPath(const std::wstring& partPath);
std::optional<ResumeRecord> LoadResumeRecord(const std::wstring& partPath);
// Replaces the record in one step, flushed, so it is either the old or the new.
bool SaveResumeRecord(const std::wstring& partPath, const ResumeRecord& record);
void RemoveResumeRecord(const std::wstring& partPath);
