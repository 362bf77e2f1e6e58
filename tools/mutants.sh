#!/usr/bin/env bash
# Puts deliberate faults into the product, one at a time, and runs the tests
# that should notice each: every fault must make at least one test fail. Run
# it before and after reworking the tests, so that no fault-catching power is
# lost unnoticed. It works on a copy of the committed tree (build/mutants).
#   tools/mutants.sh [NAME-REGEX]
# Prints "caught" or "MISSED" per fault and ends non-zero when one is missed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work="$root/build/mutants"
only=${1:-.}

if [ ! -d "$work" ]; then
    git -C "$root" worktree add --detach "$work" HEAD >/dev/null
fi
git -C "$work" checkout -q --detach "$(git -C "$root" rev-parse HEAD)"
git -C "$work" checkout -q -- .
# Its own test-server port, so that it can run beside the suite.
cmake --preset tests -S "$work" -B "$work/build/tests" -DZEL_TEST_SERVER_PORT=28810 >/dev/null

missed=0
# mutant NAME FILE SED-EXPRESSION TESTS-REGEX
mutant() {
    local name=$1 file=$2 expression=$3 tests=$4
    [[ "$name" =~ $only ]] || return 0
    sed -i "$expression" "$work/$file"
    if git -C "$work" diff --quiet -- "$file"; then
        echo "$name: the fault could not be placed in $file (the code changed?)"
        missed=1
        return 0
    fi
    if ! cmake --build "$work/build/tests" >/dev/null 2>&1; then
        echo "$name: caught (does not build)"
    elif "$work/tools/test.sh" -E demo_headless -R "$tests" >"$work/build/$name.log" 2>&1; then
        echo "$name: MISSED by $tests"
        missed=1
    else
        echo "$name: caught by $(sed -n '/tests FAILED/,$p' "$work/build/$name.log" | grep -oE '[0-9]+ - [^ ]+' |
            sed 's/^[0-9]* - //' | tr '\n' ' ')"
    fi
    git -C "$work" checkout -q -- "$file"
}

mutant version-order update/version_quad.cpp \
    's/return server.part\[i\] > installed.part\[i\];/return server.part[i] < installed.part[i];/' \
    'IsNewerVersion|OfficeScenarios'
mutant any-key update/pinned_request.cpp \
    's/if (!pinned \&\& !(presented \&\& TrustedBySystemInstead(request, record))) {/if (!presented) {/' \
    'CheckForUpdate|Download|OfficeScenarios'
mutant signature-ignored app/main.cpp \
    's/    if (signature \&\& \*signature != SignatureVerdict::kGood) {/    if (false) {/' \
    'SparePinAndSignedReleases|SelfUpdate'
mutant interception-unsigned update/pinned_request.cpp \
    's/if (!kReleaseKeyBuiltIn || /if (/' \
    'SparePinAndSignedReleases|SelfUpdate'
mutant self-check-skipped install/self_update.cpp \
    's/if (!candidate || candidate->version != to) {/if (false) {/' \
    'SparePinAndSignedReleases|SelfUpdate'
mutant identity-unchecked install/self_update.cpp \
    's/if (!MayReplace(BuiltInIdentity(from.c_str()), \*candidate)) {/if (false) {/' \
    'SparePinAndSignedReleases|SelfUpdate'
mutant no-trial install/self_update.cpp \
    's/        MarkTrial(files, version);/        (void)version;/' \
    'SparePinAndSignedReleases|SelfUpdate'
mutant cut-not-healed install/self_update.cpp \
    's/const bool healed = MoveWritten(copy, files.current);/const bool healed = false;/' \
    'SparePinAndSignedReleases|SelfUpdate'
mutant redirects-followed update/pinned_request.cpp \
    's/DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;/DWORD noRedirects = 0;/' \
    'CheckForUpdate'
mutant cut-manifest-used update/manifest_fetch.cpp \
    's/return hasLength \&\& body.size() != announced ? "cut" : nullptr;/return nullptr;/' \
    'CheckForUpdate|OfficeScenarios'
mutant manifest-unbounded update/manifest_fetch.cpp \
    's/if (body.size() + available > kManifestMaxBytes) {/if (false) {/' \
    'CheckForUpdate'
mutant no-deadline update/request_watchdog.cpp \
    's/    request_ = request;/    request = nullptr;\n    request_ = request;/' \
    'OfficeScenarios|CheckForUpdate'
mutant no-direct-retry update/pinned_request.cpp \
    's/proxy.proxy.empty() ||$/proxy.proxy.empty() || true ||/' \
    'OfficeProxy'
mutant cut-download-kept download/download_package.cpp \
    's/const bool whole = record.total > 0 ? kept == record.total : transfer.complete;/const bool whole = true;/' \
    'Download'
mutant digest-ignored download/download_package.cpp \
    's/if (job.expected \&\& (!part.hash.ok() || digest != \*job.expected)) {/if (false) {/' \
    'Download'
mutant no-resume-validator download/download_package.cpp \
    's/L"-\\r\\nIf-Range: " + resume->validator/L"-"/' \
    'Download'
mutant delta-digest-ignored download/delta_download.cpp \
    's/|| digest != \*job_.expected) {/|| digest != digest) {/' \
    'Download|OfficeScenarios'
mutant delta-crc-ignored download/delta_plan.cpp \
    's/a.crc32 == b.crc32 \&\& //' \
    'PlanSpans|Download'
mutant delta-always-worth-it download/delta_plan.cpp \
    's/<= wanted \* limits.maxFetchPercent;/<= wanted * 100;/' \
    'PlanSpans|Download'
mutant progress-figure download/progress.cpp \
    's/kept \* 100 \/ total/kept * 10 \/ total/' \
    'Progress|Download|OfficeScenarios'
mutant lost-backup install/package_install.cpp \
    's/hadInstallation \&\& !MoveFolderPatiently(kInstallFolder, kBackupFolder)/hadInstallation \&\& !RemoveFolderTree(kInstallFolder)/' \
    'Installation|OfficeScenarios'
mutant missed-restore install/package_install.cpp \
    's/        MoveFolderPatiently(kBackupFolder, kInstallFolder);/        ;/' \
    'Installation|OfficeScenarios'
mutant stale-update-kept install/package_install.cpp \
    's/if (!ClearFolderAway(kStagingFolder)) {/if (false) {/' \
    'Installation'
mutant unpack-after-close install/package_install.cpp \
    's/    if (!UnpackIntoStaging()) {/    CloseOfficeApplication();\n    if (!UnpackIntoStaging()) {/' \
    'Installation|OfficeScenarios'
mutant no-builtin-unpack install/package_unpack.cpp \
    's/    return BuiltinUnpack(archivePath, folder);/    return false;/' \
    'Installation|OfficeScenarios'
mutant powershell-unbounded install/process_launch.cpp \
    's/constexpr DWORD kPowerShellLimitMs = ZEL_POWERSHELL_LIMIT_MS;/constexpr DWORD kPowerShellLimitMs = INFINITE;/' \
    'Installation'
mutant no-space-check install/package_unpack.cpp \
    's/if (size \&\& !HasRoomToUnpack(folder, \*size)) {/if (size \&\& false) {/' \
    'Installation'
mutant crc-ignored install/builtin_unpack.cpp \
    's/return crc == entry.crc32 || Fail(failure, "crc", entry.name);/return true;/' \
    'Installation'
mutant names-unchecked archive/entry_path.cpp \
    's/if (!IsSafeComponent(all.substr(start, end - start))) {/if (!IsSafeComponent(L"x") \&\& false) {/' \
    'SafeEntryPath|Installation'
mutant overlap-unchecked archive/zip_directory.cpp \
    's/std::min(archiveSize, entry.dataLimit)/archiveSize/' \
    'ZipDirectory'
mutant case-duplicates-kept install/builtin_unpack.cpp \
    's/ || !paths.Add(\*path)) {/) {/' \
    'Installation'
mutant powershell-exit-trusted install/process_launch.cpp \
    's/exitCode == 0 ? compare() :/false ? compare() :/' \
    'Installation'
mutant powershell-by-name install/process_launch.cpp \
    's/!StartProcess(powershell.c_str(),/!StartProcess(nullptr,/;s/BuildExtractCommandLine(powershell,/BuildExtractCommandLine(L"powershell",/' \
    'Installation'
mutant followed-link install/folders.cpp \
    's/if (attributes \& FILE_ATTRIBUTE_REPARSE_POINT) {/if (false) {/;s/if (!SamePath(FinalPath(path), realPath)) {/if (false) {/' \
    'Link'
mutant any-office install/app_processes.cpp \
    's/if (IsOfficeApplication(image, folders)) {/if (image.ends_with(L"zel_acc.exe")) {/' \
    'Installation'
mutant no-lock install/office_lock.cpp \
    's/const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;/const bool busy = false;/' \
    'OfficeScenarios'
mutant wrong-exit-code install/app_processes.cpp \
    's/    ExitProcess(exitCode);/    ExitProcess(exitCode + 1);/' \
    'OfficeScenarios|Installation'
mutant missing-claim app/workers.cpp \
    's/    return Claim(kEnding);/    Claim(kEnding);\n    return true;/' \
    'OfficeScenarios'
mutant log-never-rotated common/log.cpp \
    's/size.QuadPart) <= kLogRotateBytes) {/size.QuadPart) <= kLogRotateBytes * 1000) {/' \
    'Log'
mutant foreign-files-removed install/folders.cpp \
    's/if (IsSetAsideName(entry.cFileName)) {/if (true) {/' \
    'Installation'
mutant release-version-unchecked install/package_install.cpp \
    's/if (version \&\& \*version == announced) {/if (true) {/' \
    'Installation'
mutant unstartable-release-kept install/package_install.cpp \
    's/    PutBackOldApplication();/    ;/' \
    'Installation'
mutant impatient-heal install/package_install.cpp \
    's/const bool healed = MoveFolderPatiently(kBackupFolder, kInstallFolder);/const bool healed = MoveFolder(kBackupFolder, kInstallFolder);/' \
    'OfficeScenarios'
mutant refused-range-kept download/download_package.cpp \
    's/if (resume \&\& http.status != 0) {/if (false) {/' \
    'Download'
mutant full-disk-read-on download/download_package.cpp \
    's/if (writer.failed()) {/if (false) {/' \
    'Download'
mutant office-id-not-sent update/pinned_request.cpp \
    's/    if (!office.empty()) {/    if (false) {/' \
    'OfficeId|OfficeScenarios'
mutant reports-switch-ignored app/main.cpp \
    's/    if (ZEL_SEND_REPORTS) {/    if (true) {/' \
    'OfficeScenarios'
mutant report-before-application-ready update/update_report.cpp \
    's/        WaitForApplication(pid);/        ;/' \
    'OfficeScenarios|SparePinAndSignedReleases|SelfUpdate'
mutant mandatory-record-ignored update/mandatory_record.cpp \
    's/    return ReadOfficeFile(kMandatorySeenFile, record) \&\&/    return false \&\&/' \
    'OfficeScenarios'

cmake --build "$work/build/tests" >/dev/null 2>&1 || true
exit "$missed"
