// The updater replacing itself with the zel_updater.exe a release carries at
// the top of its archive (signed with it, through the archive's SHA-256).
// The new program takes over at the next start; it may carry new pins and a
// new release key, which is how keys are rotated.
#pragma once

#include <string>

inline constexpr const wchar_t* kSelfCheckArgument = L"--self-check";

// True when this run was started only to show that the program works.
bool IsSelfCheckRun();

// The self-check's whole work: the build's version and identity on standard
// output (install/updater_identity.h), exit code 0.
int AnswerSelfCheck(const char* version);

// After an installation: when ZEL\zel_updater.exe has a higher file version
// than the running program and passes its self-check, the running program is
// set aside under a unique name and the new one takes its place; on any
// failure the old one is put back. Logged as self_update.
void UpdateSelfFromInstallation();

// At start: removes what an earlier replacement set aside or left half-made.
void TidySelfUpdateLeftovers();
