// The self-check: a candidate updater is run with one argument and must
// answer at once with its version and identity (install/updater_identity.h)
// before it may replace the running one.
#pragma once

#include <optional>
#include <string>

#include "install/updater_identity.h"

inline constexpr const wchar_t* kSelfCheckArgument = L"--self-check";

// True when this run was started only to show that the program works.
bool IsSelfCheckRun();

// The self-check's whole work: this build's version and identity on standard
// output; exit code 0.
int AnswerSelfCheck(const char* version);

// This build's identity, with the version given.
UpdaterIdentity BuiltInIdentity(const char* version);

// Runs the program at `path` with the self-check argument; its answer, when
// it ended with 0 within the bound and answered in the expected form.
std::optional<UpdaterIdentity> RunSelfCheck(const std::wstring& path);
