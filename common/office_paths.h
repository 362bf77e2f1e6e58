// The names of the office folder's layout, relative to the updater's current
// folder, which is the folder that holds ZEL.
#pragma once

inline constexpr const wchar_t* kInstallFolder = L"ZEL";
inline constexpr const wchar_t* kBackupFolder = L"ZEL.bak";
inline constexpr const wchar_t* kStagingFolder = L"update";
inline constexpr const wchar_t* kPackageFile = L"zel.zip";
inline constexpr const wchar_t* kAppExecutableName = L"zel_acc.exe";
inline constexpr const wchar_t* kAppExecutablePath = L"ZEL\\zel_acc.exe";
// Held open without sharing for the whole run: one updater per office.
inline constexpr const wchar_t* kLockFile = L"zel_updater.lock";
inline constexpr const wchar_t* kLogFile = L"zel_updater.log";
inline constexpr const wchar_t* kOldLogFile = L"zel_updater.log.1";
