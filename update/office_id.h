// The office's own random id, kept beside the lock in the office folder. It
// tells the vendor's server one office from another (staged rollouts, update
// reports) and nothing else: it is made from random bits, never from the
// machine, the user or the network.
#pragma once

#include <string>

inline constexpr const wchar_t* kOfficeIdFile = L"zel_updater.office";

// Reads the id, making it the first time the updater runs in this folder and
// replacing a damaged one (logged as office). Called once the run holds the
// office's lock, so no other run writes it meanwhile.
void LoadOfficeId();

// 32 lower-case hex digits; empty until LoadOfficeId ran (a test program or
// the self-check), and then requests carry no id.
const std::string& OfficeId();

// Small files of the office folder are written whole or not at all: into a
// temporary file, then renamed over the old one (or, with replace false, only
// where none exists yet).
bool WriteOfficeFile(const std::wstring& path, const std::string& text, bool replace);
// At most `limit` bytes of the file; nothing when it cannot be read.
bool ReadOfficeFile(const std::wstring& path, std::string& text, size_t limit = 256);
