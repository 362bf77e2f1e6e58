// The real updater, end to end: its own process in a fresh office folder with
// ZEL holding the stand-in application, the real test server and the stand-in
// unpacker, driven through its window as a person would. Each row of the
// table is a server scenario, an office state, what the person does and the
// outcome.
#include <windows.h>
#include <commctrl.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <regex>

#include "app/main_window.h"
#include "common/hex.h"
#include "common/texts.h"
#include "support/test_server_control.h"
#include "support/test_support.h"
#include "support/updater_driver.h"
#include "update/installed_version.h"

using namespace testing_support;

namespace {

std::string ManifestJson(const std::string& version, bool mandatory = false,
                         const std::string& notes = "", const std::string& sha256 = "") {
    return R"({"version": ")" + version + R"(", "url": "https://cdn.example/zel/zel.zip", )" +
           R"("sha256": ")" + sha256 + R"(", "notes": ")" + notes + R"(", "releaseDate": )" +
           R"("2026-12-01", "mandatory": )" + (mandatory ? "true" : "false") + "}";
}

// The archive as the server sends it, a moment late so that the download's
// first status can be seen, and optionally held back part-way or slowed.
ServerResponse Archive(const char* name = "good.zip", int stallMs = 0, long long rate = 0) {
    return {.bodyFile = std::string("bin/archives/") + name,
            .delayMs = 700,
            .stallAfter = stallMs > 0 ? 16384 * 4 : -1,
            .stallMs = stallMs,
            .rate = rate};
}

std::string Digest(const wchar_t* archive = L"good.zip") {
    return Sha256Hex(ReadBytes(BinFolder() + L"\\archives\\" + archive));
}
std::string GoodDigest() {
    return Digest();
}

// The manifest signed with the signed build's release key, one text in it
// replaced after signing.
ServerResponse Signed(const std::string& from = "", const std::string& to = "",
                      const char* file = "signed.json") {
    std::string text = ReadBytes(BinFolder() + L"\\archives\\" + Narrow2Wide(file));
    if (!from.empty()) {
        text.replace(text.find(from), from.size(), to);
    }
    return {.cert = "intercepted-valid", .body = text};
}

// The test root in the prefix's machine store, for as long as it lives: what
// an office's HTTPS-inspecting antivirus installs. Written as the registry
// entry the store keeps it in: Wine 8 ignores a root added through the API.
class TrustedTestRoot {
  public:
    explicit TrustedTestRoot(const wchar_t* file) {
        const std::string pem = ReadBytes(BinFolder() + L"\\..\\test-certs\\" + file);
        BYTE der[4096];
        DWORD size = sizeof(der);
        CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der, &size, nullptr,
                             nullptr);
        PCCERT_CONTEXT root = CertCreateCertificateContext(X509_ASN_ENCODING, der, size);
        BYTE sha1[20];
        DWORD shaSize = sizeof(sha1);
        BYTE blob[4096];
        DWORD blobSize = 0;
        // Wine leaves the size as it was when the buffer is large enough.
        EXPECT_TRUE(
            root &&
            CertGetCertificateContextProperty(root, CERT_SHA1_HASH_PROP_ID, sha1, &shaSize) &&
            CertSerializeCertificateStoreElement(root, 0, nullptr, &blobSize) &&
            blobSize <= sizeof(blob) &&
            CertSerializeCertificateStoreElement(root, 0, blob, &blobSize));
        CertFreeCertificateContext(root);
        key_ = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" +
               Narrow2Wide(ToHex(sha1, sizeof(sha1)));
        // Wine reads a root only under its thumbprint in capitals.
        CharUpperW(key_.data());
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, L"Blob", 0, REG_BINARY, blob, blobSize), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    ~TrustedTestRoot() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, key_.c_str()); }

  private:
    std::wstring key_;
};

// What the person does, and what the test waits for, in order.
enum class Op {
    kHiddenToTheEnd,  // no window is shown until the updater ends
    kWindow,          // the window is shown
    kRelease,         // it shows the release's notes, with nothing started yet
    kClickStart,
    kFocusStart,  // a notification other than a click
    kClickLater,
    kClose,
    kStatus,          // the status line shows the text
    kProgress,        // the status lines so far: the download's, then progress up to 100 %
    kBox,             // a box with the text (and its caption) shows; it is dismissed
    kDisabled,        // the window takes no input (checked once the notice box is gone)
    kEnabled,         // the window takes input again
    kSecondRun,       // another run in the same office meanwhile ends 0 at once
    kRunning,         // a close request was ignored, and the updater says so in its log
    kRestart,         // once a part of the download is kept, the updater is killed and run again
    kNothingStarted,  // a box shows while no application has been started
};

struct Step {
    Op op;
    const wchar_t* text = nullptr;
};

struct Scenario {
    const char* name;
    std::vector<ServerResponse> server = {};
    std::vector<Step> steps = {};
    std::vector<const wchar_t*> starts = {};  // versions started from ZEL, in order
    const wchar_t* zelAfter = L"1.2.3.4";
    int requests = -1;              // requests the server received, or -1
    const char* logged = nullptr;   // a pattern the log holds
    bool appRunning = false;        // this office's application runs before the updater
    bool zelMoved = false;          // ZEL is missing and ZEL.bak holds the application
    const wchar_t* held = nullptr;  // a process keeps its current folder inside this one
    DWORD heldMs = 60000;           // for this long
    bool slowUnpack = false;        // the unpack takes 1.5 s, for steps taken meanwhile
    bool resumed = false;           // the last request continues a kept part
    const wchar_t* installed = L"v1.2.3.4";
    const wchar_t* program = L"zel_updater_test.exe";
    const char* previous = nullptr;  // the office's zel.zip: an archive of bin/archives
    bool differential = false;       // only ranges asked, within the changed entries and directory
    bool trustTestRoot =
        false;  // the prefix trusts the interceptor's root (the mirror's, with one)
    // The updater runs as the office's zel_updater.exe, beside ZEL, so that it
    // may replace itself; after the run it is started `crashes` times more,
    // ending each time with a crash or another failure, and then once more, after which the log
    // holds `nextRun` (a pattern, waited for).
    bool fromOffice = false;
    const char* nextRun = nullptr;
    int crashes = 0;
    bool leftovers = false;  // an earlier self-update left its files behind
    // A replacement cut between its renames: no zel_updater.exe, the program
    // as zel_updater.previous.exe and the 9.9.9.9 one as
    // zel_updater.incoming.exe; `cut` names the copy that is started.
    const wchar_t* cut = nullptr;
    PowerShell powershell = PowerShell::kStandIn;
    // The update report's query after "from=1.2.3.4&to=2.0.0.0&" (a pattern),
    // sent after the application started; "": no report at all.
    const char* report = nullptr;
    int mandatorySeenDaysAgo = -1;   // the office saw mandatory 2.0.0.0 that many days ago
    const char* recorded = nullptr;  // zel_updater.highest before the run
    bool appGone = false;            // ZEL\zel_acc.exe taken away (an antivirus quarantine)
    DWORD exitCode = 0;
    // A powershell.exe and a version.dll that leave a marker, planted in the
    // office beside the updater (its folder and the current one).
    bool planted = false;
    // What the mirror a signed release names answers, and the requests it
    // must receive (or -1); `resumed` and `differential` then speak of its
    // requests.
    std::vector<ServerResponse> mirror = {};
    int mirrorRequests = -1;
};

long long LastWriteMs(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                            data.ftLastWriteTime.dwLowDateTime;
    return static_cast<long long>((ticks - 116444736000000000ULL) / 10000);
}

std::string DaysAgoRecord(int days) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks = {{now.dwLowDateTime, now.dwHighDateTime}};
    ticks.QuadPart -= static_cast<ULONGLONG>(days) * 864000000000ULL;
    const FILETIME then = {ticks.LowPart, ticks.HighPart};
    SYSTEMTIME t;
    FileTimeToSystemTime(&then, &t);
    char text[64];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02uZ 2.0.0.0", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

// The application's start records, once there are `count` (or after a while).
std::vector<AppRecord> Starts(const std::wstring& record, size_t count) {
    std::vector<AppRecord> starts;
    WaitUntil(
        [&] {
            starts = ReadAppRecords(record);
            std::erase_if(starts, [](const AppRecord& r) { return r.event != L"start"; });
            return starts.size() >= count && count > 0;
        },
        count == 0 ? 300 : kEventWaitMs);
    return starts;
}

// The office's scenarios run in this many groups side by side; the signed
// releases, the office id and the self-update take the server groups after.
constexpr size_t kOfficeScenarioGroups = 6;

class UpdaterEndToEnd : public testing::Test {
  protected:
    void TearDown() override { KillStrayApps(); }

    // Every sixth of the office's scenarios, from the `group`th on, against
    // the group's own server: the six groups run side by side.
    void PlayOfficeScenarios(size_t group);
    void PlaySignedReleasesAndSelfUpdate(bool updatesItself);

    void Play(const Scenario& s) {
        SCOPED_TRACE(s.name);
        // Each row's time, for balancing the groups.
        struct Timed {
            const char* name;
            ULONGLONG began = GetTickCount64();
            ~Timed() {
                std::fprintf(stderr, "row \"%s\": %llu ms\n", name, GetTickCount64() - began);
            }
        } timed{s.name};
        KillStrayApps();
        ScratchFolder office;
        const std::wstring record = UseAppRecord(office.path());
        InstallApp(office.path(), s.installed);
        if (s.recorded != nullptr) {
            WriteBytes(office / L"zel_updater.highest", s.recorded);
        }
        if (s.appGone) {
            DeleteFileW((office / L"ZEL\\zel_acc.exe").c_str());
        }
        if (s.previous != nullptr) {
            CopyInto(BinFolder() + L"\\archives\\" + Narrow2Wide(s.previous), office / L"zel.zip");
        }
        if (s.zelMoved) {
            MoveFileW((office / L"ZEL").c_str(), (office / L"ZEL.bak").c_str());
        }
        if (s.held != nullptr) {
            CloseHandle(StartZelHolder(office.path(), s.heldMs, s.held).process);
        }
        if (s.appRunning) {
            CloseHandle(StartProcess(L"\"" + (office / L"ZEL\\zel_acc.exe") + L"\"").process);
            ASSERT_EQ(WaitForAppRecords(record, 1).size(), 1u);
        }
        SetServerScenario(s.server);
        if (!s.mirror.empty()) {
            SetServerScenario(s.mirror, kMirrorState);
        }
        UsePowerShell(s.powershell);
        if (s.mandatorySeenDaysAgo >= 0) {
            WriteBytes(office / L"zel_updater.mandatory", DaysAgoRecord(s.mandatorySeenDaysAgo));
        }
        if (s.slowUnpack) {
            SetEnvironmentVariableW(L"ZEL_UNPACK_DELAY_MS", L"1500");
        }
        std::optional<TrustedTestRoot> root;
        if (s.trustTestRoot) {
            root.emplace(s.mirror.empty() ? L"test-ca.crt" : L"mirror-ca.crt");
        }
        std::wstring program = BinFolder() + L"\\" + s.program;
        const std::wstring aside = office / L"zel_updater.exe.old-1-2";
        const std::wstring incoming = office / L"zel_updater.incoming.exe";
        if (s.fromOffice) {
            CopyInto(program, office / L"zel_updater.exe");
            program = office / L"zel_updater.exe";
        }
        if (s.planted) {
            CopyInto(BinFolder() + L"\\planted.exe", office / L"powershell.exe");
            CopyInto(BinFolder() + L"\\planted.dll", office / L"version.dll");
        }
        if (s.leftovers) {
            CopyInto(program, aside);
            WriteBytes(incoming, "MZ cut off");
        }
        if (s.cut != nullptr) {
            CopyInto(program, office / L"zel_updater.previous.exe");
            CopyInto(BinFolder() + L"\\zel_updater_v9.exe", incoming);
            program = office / s.cut;
        }
        std::optional<UpdaterRun> run(std::in_place, program, office.path());
        for (const Step& step : s.steps) {
            if (step.op == Op::kRestart) {
                EXPECT_TRUE(WaitUntil([&] { return Exists(office / L"zel.zip.part.resume"); }));
                run.reset();
                run.emplace(program, office.path());
            }
            ASSERT_NO_FATAL_FAILURE(Do(*run, office, step))
                << "step " << (&step - &s.steps[0]) << "; the updater: " << run->State()
                << "; its log:\n"
                << ReadBytes(office / L"zel_updater.log");
        }
        ReleaseServerStall();
        EXPECT_EQ(run->WaitForExit(), s.exitCode);
        UsePowerShell(PowerShell::kStandIn);

        const auto starts = Starts(record, s.starts.size());
        ASSERT_EQ(starts.size(), s.starts.size());
        for (size_t i = s.appRunning ? 1 : 0; i < starts.size(); ++i) {
            EXPECT_EQ(starts[i].version, s.starts[i]);
            EXPECT_EQ(starts[i].commandLine, L"\"ZEL\\zel_acc.exe\" ");
            EXPECT_EQ(_wcsicmp(starts[i].folder.c_str(), (office / L"ZEL").c_str()), 0);
        }
        EXPECT_EQ(ReadProductVersion(office / L"ZEL\\zel_acc.exe").value_or(L"none"), s.zelAfter);
        const bool updated = std::wstring(s.zelAfter) == L"2.0.0.0";
        EXPECT_EQ(Exists(office / L"ZEL.bak\\zel_acc.exe"), updated);
        EXPECT_FALSE(Exists(office / L"update"));
        const auto requests = ReceivedRequests();
        if (s.requests >= 0) {
            EXPECT_EQ(static_cast<int>(requests.size()), s.requests);
        }
        const std::string officeId = ReadBytes(office / L"zel_updater.office");
        for (const ReceivedRequest& r : requests) {  // the office's one id on every request
            EXPECT_TRUE(std::ranges::count(r.headers, "ZEL-Office: " + officeId) == 1)
                << r.requestLine;
        }
        const auto isReport = [](const ReceivedRequest& r) {
            return r.requestLine.find("/api/sysboot/report/") != std::string::npos;
        };
        if (s.report != nullptr) {
            const auto report = std::ranges::find_if(requests, isReport);
            EXPECT_EQ(report == requests.end(), *s.report == '\0') << "a report, when wanted";
            if (report != requests.end() && *s.report != '\0') {
                const std::string wanted = "GET /api/sysboot/report/ZEL_ACC\\?office=" + officeId +
                                           "&from=1\\.2\\.3\\.4&to=2\\.0\\.0\\.[01]&" + s.report;
                EXPECT_TRUE(std::regex_search(report->requestLine, std::regex(wanted)))
                    << report->requestLine;
                EXPECT_GE(report->timeMs, LastWriteMs(record)) << "after the application started";
            }
        }
        // The archive's requests, after the manifest's or at the mirror.
        std::vector<ReceivedRequest> fetches = requests;
        std::erase_if(fetches, isReport);
        fetches.erase(fetches.begin(), fetches.begin() + std::min<size_t>(1, fetches.size()));
        if (!s.mirror.empty()) {
            fetches = ReceivedRequests(kMirrorState);
            if (s.mirrorRequests >= 0) {
                EXPECT_EQ(static_cast<int>(fetches.size()), s.mirrorRequests);
            }
        }
        if (s.resumed) {  // the last request asked only for what was not kept
            ASSERT_FALSE(fetches.empty());
            const auto& headers = fetches.back().headers;
            const std::regex range("Range: bytes=[1-9][0-9]*-");
            EXPECT_TRUE(std::ranges::any_of(
                headers, [&](const std::string& h) { return std::regex_match(h, range); }));
        }
        if (s.differential) {
            long long sent = 0;
            for (size_t i = 0; i < fetches.size(); ++i) {
                EXPECT_TRUE(std::ranges::any_of(fetches[i].headers, [](const std::string& h) {
                    return h.starts_with("Range: bytes=");
                }));
                sent += fetches[i].sent;
            }
            const long long budget =
                std::stoll(ReadBytes(BinFolder() + L"\\archives\\delta-new.budget"));
            EXPECT_LE(sent, budget * 11 / 10);
        }
        // Waited for: a run may have handed its start to another copy.
        const auto logHolds = [&](const char* pattern, size_t from = 0) {
            return WaitUntil([&] {
                return std::regex_search(ReadBytes(office / L"zel_updater.log").substr(from),
                                         std::regex(pattern));
            });
        };
        if (s.logged != nullptr) {
            EXPECT_TRUE(logHolds(s.logged)) << "the log names the cause: " << s.logged << "\n"
                                            << ReadBytes(office / L"zel_updater.log");
        }
        EXPECT_FALSE(Exists(aside) || Exists(incoming)) << "set aside or half-made";
        EXPECT_FALSE(Exists(office / L"powershell.exe.ran") || Exists(office / L"version.dll.ran"))
            << "a planted program or library ran";
        if (s.nextRun != nullptr) {
            const size_t before = ReadBytes(office / L"zel_updater.log").size();
            for (int i = 0; i < s.crashes; ++i) {
                EXPECT_NE(UpdaterRun(program, office.path()).WaitForExit(), 0u) << "crashed";
            }
            EXPECT_EQ(UpdaterRun(program, office.path()).WaitForExit(), 0u);
            EXPECT_TRUE(logHolds(s.nextRun, before))
                << s.nextRun << "\n"
                << ReadBytes(office / L"zel_updater.log").substr(before);
        }
        KillStrayApps();  // what a self-check left running in the office
    }

    void Do(UpdaterRun& run, const ScratchFolder& office, const Step& step) {
        switch (step.op) {
            case Op::kHiddenToTheEnd: {
                bool everVisible = false;
                for (const ULONGLONG end = GetTickCount64() + kEventWaitMs;
                     run.Running() && GetTickCount64() < end;) {
                    everVisible |= run.WaitForWindow(true, 0) != nullptr;
                    Sleep(5);
                }
                EXPECT_FALSE(everVisible);
                break;
            }
            case Op::kWindow:
            case Op::kRestart:
                ASSERT_NE(run.WaitForWindow(), nullptr);
                break;
            case Op::kRelease:
                EXPECT_EQ(run.NotesText(), step.text);
                EXPECT_EQ(WindowText(run.window()), texts::kWindowTitle);
                EXPECT_EQ(WindowText(run.Control(kStartButtonId)), texts::kStartButtonText);
                EXPECT_EQ(WindowText(run.Control(kLaterButtonId)), texts::kLaterButtonText);
                EXPECT_TRUE(IsWindowEnabled(run.window()));
                EXPECT_EQ(GetWindowLongW(run.window(), GWL_EXSTYLE) & 0x00403000, 0x00403000);
                EXPECT_EQ(SendMessageW(run.Control(kProgressBarId), PBM_GETRANGE, FALSE, 0), 100);
                EXPECT_EQ(run.ProgressPosition(), 0);
                EXPECT_EQ(run.StatusText(), L"");
                break;
            case Op::kClickStart:
                run.Click(kStartButtonId);
                break;
            case Op::kFocusStart:
                run.Click(kStartButtonId, BN_SETFOCUS);
                break;
            case Op::kClickLater:
                run.Click(kLaterButtonId);
                break;
            case Op::kClose:
                run.RequestClose();
                break;
            case Op::kStatus:
                ASSERT_TRUE(run.WaitForStatus(step.text)) << Wide2Narrow(run.StatusText());
                break;
            case Op::kProgress: {
                EXPECT_EQ(run.HighestProgressSeen(), 100);
                const auto& seen = run.StatusesSeen();
                auto it = std::find(seen.begin(), seen.end(), texts::kStatusDownloading);
                ASSERT_GE(seen.end() - it, 3);
                while (++it + 1 != seen.end()) {
                    EXPECT_NE(it->find(L"KB/s"), std::wstring::npos) << "progress lines between";
                }
                break;
            }
            case Op::kBox: {
                const BoxSeen box = run.WaitForBox();
                EXPECT_EQ(box.text, step.text);
                EXPECT_EQ(box.caption, box.text == texts::kServerError ? texts::kServerErrorCaption
                                       : box.text == texts::kMandatoryNotice
                                           ? texts::kMandatoryCaption
                                           : texts::kErrorCaptionPersian);
                UpdaterRun::Dismiss(box);
                WaitUntil([&] { return !IsWindow(box.window); });
                break;
            }
            case Op::kDisabled:
                WindowText(run.window());  // answered once the box's end is handled
                EXPECT_FALSE(IsWindowEnabled(run.window()));
                EXPECT_FALSE(IsWindowVisible(run.Control(kStartButtonId)));
                EXPECT_FALSE(IsWindowVisible(run.Control(kLaterButtonId)));
                break;
            case Op::kEnabled:
                EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(run.window()) != FALSE; }));
                break;
            case Op::kSecondRun: {
                UpdaterRun second(BinFolder() + L"\\zel_updater_test.exe", office.path());
                EXPECT_EQ(second.WaitForExit(), 0u);
                break;
            }
            case Op::kNothingStarted:
                run.WaitForBox(30000);
                EXPECT_TRUE(ReadAppRecords(office / L"app-record.txt").empty());
                break;
            case Op::kRunning:
                WaitUntil([&] {
                    return ReadBytes(office / L"zel_updater.log")
                               .find("window.close result=\"ignored") != std::string::npos;
                });
                EXPECT_TRUE(run.Running()) << "the close request is ignored";
                break;
        }
    }
};

void UpdaterEndToEnd::PlayOfficeScenarios(const size_t group) {
    UseServerGroup(static_cast<int>(group));
    using enum Op;
    const wchar_t* const downloading = texts::kStatusDownloading;
    const wchar_t* const failed = texts::kStatusDownloadFailed;
    const wchar_t* const notice = texts::kMandatoryNotice;
    const wchar_t* const inUse = texts::kInstallFolderInUse;
    const wchar_t* const badArchive = texts::kExtractError;
    const ServerResponse gone{.status = 404, .body = "gone"};
    const ServerResponse v2{.body = ManifestJson("2.0.0.0")};
    const ServerResponse v2Mandatory{.body = ManifestJson("2.0.0.0", true)};
    const ServerResponse v2Digest{.body = ManifestJson("2.0.0.0", false, "", GoodDigest())};
    ServerResponse held = Archive("good.zip", kEventWaitMs);
    held.more = "\"stall_until_released\": true";
    const std::vector<Step> serverError = {{kBox, texts::kServerError}};
    const ServerResponse v2Delta{
        .body = ManifestJson("2.0.0.0", false, "",
                             Sha256Hex(ReadBytes(BinFolder() + L"\\archives\\delta-new.zip")))};
    // Each range a moment late, as the whole archive is: the copied entries
    // move the progress at once, and the download's first status would show
    // for only a few milliseconds.
    const ServerResponse deltaNew{
        .bodyFile = "bin/archives/delta-new.zip", .delayMs = 700, .rate = 200000};
    const wchar_t* const impatient = L"zel_updater_impatient.exe";
    const wchar_t* const unreachable = L"zel_updater_unreachable.exe";
    const wchar_t* const opensBooks = L"zel_updater_opens_books.exe";
    const char* const timeout = "check result=failed reason=timeout";
    // clang-format off
    const Scenario scenarios[] = {
        {.name = "same version: the application starts, no window",
         .server = {{.body = ManifestJson("1.2.3.4")}}, .steps = {{kHiddenToTheEnd}},
         .starts = {L"1.2.3.4"}},
        {.name = "older release, numerically: no window",
         .server = {{.body = ManifestJson("1.2.9.9")}}, .steps = {{kHiddenToTheEnd}},
         .starts = {L"1.2.10.0"}, .zelAfter = L"1.2.10.0", .installed = L"v1.2.10.0"},
        {.name = "nothing listening", .steps = serverError,
         .logged = "reason=connect status=0 error=\"12029 \\(", .program = unreachable},
        // The updater built with a 4 s manifest deadline (the product's is
        // 30 s, same code), against servers too slow to finish.
        {.name = "TLS handshake never answered",
         .server = {{.more = R"("silent": true, "silent_ms": 15000)"}}, .steps = serverError,
         .logged = timeout, .program = impatient},
        {.name = "headers dripped", .server = {{.more = R"("drip": "headers", "drip_ms": 5000)"}},
         .steps = serverError, .logged = timeout, .program = impatient},
        {.name = "body dripped",
         .server = {{.body = ManifestJson("9"), .more = R"("drip": "body", "drip_ms": 5000)"}},
         .steps = serverError, .logged = timeout, .program = impatient},
        {.name = "another key", .server = {{.cert = "other-valid", .body = ManifestJson("9")}},
         .steps = serverError},
        {.name = "a newer release: the window with the notes; closing it starts nothing",
         .server = {{.body = ManifestJson("2.0.0.0", false, "\xd8\xa8\xd9\x87\xd8\xa8\xd9\x88"
                                                           "\xd8\xaf\\r\\nbb")}},
         .steps = {{kWindow},
                   {kRelease, L"نسخه کلاینت: 1.2.3.4\r\nنسخه سرور: 2.0.0.0\r\nبهبود\r\nbb"},
                   {kFocusStart}, {kClose}},
         .requests = 1},
        {.name = "start: download, install, restart; later and close ignored while installing",
         .server = {v2Digest, Archive("good.zip", 1500)},
         .steps = {{kWindow}, {kClickStart}, {kClickStart}, {kStatus, texts::kStatusInstalling},
                   {kProgress}, {kClickLater}, {kClose}},
         .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0", .requests = 3, .slowUnpack = true,
         .report = "result=installed&stage=start&cause=ok&way=powershell&bytes=[1-9][0-9]*&delta=0"
                   "&source=origin HTTP"},
        {.name = "later before the download: the running copy is restarted",
         .server = {v2}, .steps = {{kWindow}, {kClickLater}},
         .starts = {L"1.2.3.4", L"1.2.3.4"}, .appRunning = true},
        {.name = "later during the download", .server = {v2, Archive("good.zip", 20000)},
         .steps = {{kWindow}, {kClickStart}, {kStatus, downloading}, {kClickLater}},
         .starts = {L"1.2.3.4", L"1.2.3.4"}, .appRunning = true},
        {.name = "closing during the download ends the updater",
         .server = {v2, Archive("good.zip", 20000)},
         .steps = {{kWindow}, {kClickStart}, {kStatus, downloading}, {kClose}}},
        // The download is held until the steps are done, however long they take.
        {.name = "mandatory: installs without asking; a second run only starts the application",
         .server = {v2Mandatory, held},
         .steps = {{kWindow}, {kSecondRun}, {kStatus, downloading}, {kBox, notice}, {kDisabled},
                   {kClose}, {kRunning}},
         .starts = {L"1.2.3.4", L"2.0.0.0"}, .zelAfter = L"2.0.0.0", .requests = 3},
        {.name = "failed download: the window stays usable, later restarts",
         .server = {v2, gone},
         .steps = {{kWindow}, {kClickStart}, {kStatus, failed}, {kClickStart}, {kClickLater}},
         .starts = {L"1.2.3.4"}, .requests = 5,
         .report = "result=failed&stage=download&cause=http-error&way=&bytes=0&delta=0"},
        {.name = "PowerShell blocked: the updater unpacks the release itself",
         .server = {v2, Archive()}, .steps = {{kWindow}, {kClickStart}},
         .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0",
         .logged = "unpack.end way=builtin result=ok", .powershell = PowerShell::kBlocked,
         .report = "result=installed&stage=start&cause=ok&way=builtin&"},
        {.name = "no PowerShell at all: the same", .server = {v2, Archive()},
         .steps = {{kWindow}, {kClickStart}}, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0",
         .logged = "unpack.end way=builtin result=ok", .powershell = PowerShell::kMissing},
        {.name = "failed unpack: nothing is started until later",
         .server = {v2, Archive("damaged.zip")},
         .steps = {{kWindow}, {kClickStart}, {kBox, badArchive}, {kStatus, badArchive},
                   {kClickLater}},
         .starts = {L"1.2.3.4"},
         .report = "result=failed&stage=unpack&cause=unpack-failed&way=builtin&"},
        {.name = "failed mandatory download: the window can be closed",
         .server = {v2Mandatory, gone},
         .steps = {{kWindow}, {kBox, notice}, {kStatus, failed}, {kEnabled}, {kClose}}},
        {.name = "the updater killed half-way continues the download in its next run",
         .server = {v2Digest, Archive("good.zip", 0, 265375 / 3), v2Digest, Archive()},
         .steps = {{kWindow}, {kClickStart}, {kRestart}, {kClickStart},
                   {kStatus, texts::kStatusInstalling}},
         .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0", .requests = 5,
         .logged = "download result=ok attempts=1", .resumed = true},
        {.name = "3 of 40 files changed: only they travel, in ranges", .server = {v2Delta, deltaNew},
         .steps = {{kWindow}, {kClickStart}, {kStatus, texts::kStatusInstalling}, {kProgress}},
         .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0", .logged = "delta result=ok",
         .previous = "delta-old.zip", .differential = true,
         .report = "result=installed&stage=start&cause=ok&way=powershell&bytes=[1-9][0-9]*&delta=1&"},
        {.name = "the previous archive damaged: the whole archive follows",
         .server = {v2Delta, {.bodyFile = "bin/archives/delta-new.zip"}},
         .steps = {{kWindow}, {kClickStart}, {kStatus, texts::kStatusInstalling}},
         .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0", .logged = "reason=digest-mismatch",
         .previous = "delta-old-damaged.zip"},
        {.name = "mandatory, ZEL in use: the old application is back when the window closes",
         .server = {v2Mandatory, Archive()},
         .steps = {{kWindow}, {kBox, notice}, {kDisabled}, {kBox, inUse}, {kStatus, inUse},
                   {kEnabled}, {kClose}},
         .starts = {L"1.2.3.4", L"1.2.3.4"}, .logged = "error=\"32 ", .appRunning = true,
         .held = L"ZEL", .report = "result=failed&stage=swap&cause=folder-in-use&way=powershell&"},
        {.name = "reports off: nothing is sent", .server = {v2, Archive()},
         .steps = {{kWindow}, {kClickStart}}, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0",
         .requests = 2, .program = L"zel_updater_quiet.exe", .report = ""},
        {.name = "a server that never answers the report: the updater ends within its budget",
         .server = {v2, Archive(), {.more = R"("silent": true, "silent_ms": 15000)"}},
         .steps = {{kWindow}, {kClickStart}}, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0",
         .logged = "report result=failed outcome=installed stage=start status=0 failure=timeout "
                   "ms=\\d{1,4}\\s[\\s\\S]*end exit_code=0 reason=installed"},
        {.name = "server down, the vendor lets offices start: the box, then the application",
         .steps = {{kNothingStarted}, {kBox, texts::kServerError}}, .starts = {L"1.2.3.4"},
         .logged = "unreachable decision=start-unreachable", .program = opensBooks},
        {.name = "server down, a mandatory release seen two days ago: no start",
         .steps = serverError, .logged = "unreachable decision=blocked", .program = opensBooks,
         .mandatorySeenDaysAgo = 2},
        // The heal before the check retries like the swap, and nothing clears the only copy.
        {.name = "ZEL missing, ZEL.bak whole: healed before the check",
         .server = {{.body = ManifestJson("1.2.3.4")}}, .steps = {{kHiddenToTheEnd}},
         .starts = {L"1.2.3.4"},
         .logged = "heal result=ok[\\s\\S]*http path=/api/sysboot/check/ZEL_ACC/1\\.2\\.3\\.4 ",
         .zelMoved = true},
        {.name = "ZEL missing, ZEL.bak held at start, a mandatory release",
         .server = {v2Mandatory, Archive()}, .steps = {{kWindow}}, .starts = {L"2.0.0.0"},
         .zelAfter = L"2.0.0.0",
         .logged = "move from=ZEL\\.bak to=ZEL attempts=([2-9]|\\d\\d+) result=ok[\\s\\S]*"
                   "move from=ZEL to=ZEL\\.bak attempts=1 result=ok",
         .zelMoved = true, .held = L"ZEL.bak", .heldMs = 3000},
    };
    // clang-format on
    for (size_t i = group - 1; i < std::size(scenarios); i += kOfficeScenarioGroups) {
        Play(scenarios[i]);
    }
}

TEST_F(UpdaterEndToEnd, OfficeScenariosGroup1) {
    PlayOfficeScenarios(1);
}

TEST_F(UpdaterEndToEnd, OfficeScenariosGroup2) {
    PlayOfficeScenarios(2);
}

TEST_F(UpdaterEndToEnd, OfficeScenariosGroup3) {
    PlayOfficeScenarios(3);
}

TEST_F(UpdaterEndToEnd, OfficeScenariosGroup4) {
    PlayOfficeScenarios(4);
}

TEST_F(UpdaterEndToEnd, OfficeScenariosGroup5) {
    PlayOfficeScenarios(5);
}

TEST_F(UpdaterEndToEnd, OfficeScenariosGroup6) {
    PlayOfficeScenarios(6);
}

// Each office folder's id: made at the first run, the same on every request
// and run, a new one for a damaged file, and another in another office.
TEST_F(UpdaterEndToEnd, OfficeId) {
    UseServerGroup(static_cast<int>(kOfficeScenarioGroups) + 2);
    ScratchFolder scratch;
    UseAppRecord(scratch.path());
    SetServerScenario({{.body = ManifestJson("1.2.3.4")}});
    const auto run = [&](const wchar_t* name) {
        const std::wstring office = scratch / name;
        if (!Exists(office)) {
            MakeFolder(office);
            InstallApp(office, L"v1.2.3.4");
        }
        const size_t before = ReceivedRequests().size();
        EXPECT_EQ(UpdaterRun(BinFolder() + L"\\zel_updater_test.exe", office).WaitForExit(), 0u);
        const std::string id = ReadBytes(office + L"\\zel_updater.office");
        EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}"))) << id;
        const auto requests = ReceivedRequests();
        EXPECT_GT(requests.size(), before);
        for (size_t i = before; i < requests.size(); ++i) {
            EXPECT_EQ(std::ranges::count(requests[i].headers, "ZEL-Office: " + id), 1);
        }
        return id;
    };
    const std::string first = run(L"a");
    EXPECT_EQ(run(L"a"), first);
    WriteBytes(scratch / L"a\\zel_updater.office", first.substr(1) + "g");
    const std::string replaced = run(L"a");
    EXPECT_NE(replaced, first);
    const std::string log = ReadBytes(scratch / L"a\\zel_updater.log");
    EXPECT_TRUE(std::regex_search(log, std::regex("office result=created [^\\n]*id=" + first +
                                                  "[\\s\\S]*office result=replaced reason=damaged "
                                                  "id=" +
                                                  replaced)))
        << log;
    EXPECT_EQ(log.find("office result=created", log.find("office result=created") + 1),
              std::string::npos);
    EXPECT_NE(run(L"b"), replaced);
}

// The trust the updater keeps over the years: a spare server key, signed
// releases (also through an office's HTTPS inspection) and, from the row
// "self-update to 9.9.9.9" on, its own update. The two parts run side by side
// on servers of their own; only the first changes what the prefix trusts.
void UpdaterEndToEnd::PlaySignedReleasesAndSelfUpdate(const bool updatesItself) {
    UseServerGroup(static_cast<int>(kOfficeScenarioGroups) + (updatesItself ? 3 : 1));
    using enum Op;
    const std::vector<Step> serverError = {{kBox, texts::kServerError}};
    const wchar_t* const signedBuild = L"zel_updater_signed.exe";
    const wchar_t* const maxAgeBuild = L"zel_updater_maxage.exe";  // 3650 days
    const std::vector<Step> installs = {{kWindow}, {kClickStart}};
    const std::vector<Step> refused = {{kHiddenToTheEnd}};
    const auto archive = [](const char* name, const char* cert = "pinned-valid") {
        ServerResponse response = Archive(name);
        response.cert = cert;
        return response;
    };
    const auto selfUpdate = [&](const char* name) {
        return std::vector<ServerResponse>{
            {.body = ManifestJson("2.0.0.0", false, "", Digest(Narrow2Wide(name).c_str()))},
            archive(name),
            {.body = ManifestJson("2.0.0.0")}};
    };
    // A release signed with the build's key that carries an updater.
    const auto signedSelfUpdate = [&](const char* name) {
        const std::wstring path = BinFolder() + L"\\archives\\selfupdate-" + Narrow2Wide(name);
        return std::vector<ServerResponse>{
            {.body = ReadBytes(path + L".json")},
            archive(("selfupdate-" + std::string(name) + ".zip").c_str()),
            {.body = ManifestJson("2.0.0.0")}};
    };
    const char* const stayed = "start updater_version=1\\.1\\.0\\.0";
    const char* const replaced = "start updater_version=9\\.9\\.9\\.9";
    // The next start of a copy left by a cut: the incoming one in place makes it.
    const char* const healed =
        "self_update.heal from=zel_updater.incoming.exe result=ok[\\s\\S]*"
        "start updater_version=9\\.9\\.9\\.9[\\s\\S]*trial result=passed[\\s\\S]*"
        "app.start pid[\\s\\S]*end exit_code=0";
    const std::string sha = "\"sha256\": \"" + GoodDigest() + "\"";
    const char* const bad = "signature=bad decision=refused";
    // clang-format off
    // A signed build refuses a release its key did not sign as it stands.
    const auto refusal = [&](const char* name, const ServerResponse& response, const char* logged,
                             const wchar_t* program = L"zel_updater_signed.exe") {
        return Scenario{.name = name, .server = {response}, .steps = refused,
                        .starts = {L"1.2.3.4"}, .requests = 2, .logged = logged,
                        .program = program, .trustTestRoot = true,
                        .report = "result=refused&stage=signature&cause=(bad|missing|malformed|stale)&"};
    };
    const Scenario scenarios[] = {
        {.name = "the server moved to the spare key", .server = {
             {.cert = "spare-valid", .body = ManifestJson("2.0.0.0", false, "", GoodDigest())},
             archive("good.zip", "spare-valid")},
         .steps = installs, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0"},
        // A build with a release key, behind an office's HTTPS inspection: a
        // key no pin knows, from a chain the prefix trusts.
        // Signed with its length and the time of the build: within the maximum age.
        {.name = "signed release through an interceptor installs",
         .server = {Signed(), archive("good.zip", "intercepted-valid")}, .steps = installs,
         .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0",
         .logged = "key=mismatch trust=system[\\s\\S]*signature=good decision=newer",
         .program = maxAgeBuild, .trustTestRoot = true},
        {.name = "signed in the older form: still good without a maximum age",
         .server = {Signed("", "", "signed-form1.json")}, .steps = {{kWindow}, {kClose}},
         .logged = "signature=good decision=newer", .program = signedBuild,
         .trustTestRoot = true},
        refusal("signed in the older form, a build with a maximum age",
                Signed("", "", "signed-form1.json"), "signature=stale decision=refused",
                maxAgeBuild),
        refusal("signed in 2001, a build with a maximum age", Signed("", "", "signed-stale.json"),
                "signature=stale decision=refused", maxAgeBuild),
        refusal("length changed", Signed("\"length\": \"", "\"length\": \"1"), bad),
        refusal("a length without a signing time", Signed("\"signed\"", "\"signing\""),
                "signature=malformed decision=refused"),
        // Never below what the office had: the installed version reads 0.0.0.0
        // when the application is gone, and as itself otherwise.
        {.name = "the application quarantined, an older signed release",
         .server = {Signed()}, .steps = {{kBox, texts::kAppStartError}}, .zelAfter = L"none",
         .requests = 1, .logged = "installed=0\\.0\\.0\\.0 recorded=3\\.0\\.0\\.0 "
                                  "signature=good decision=older-than-recorded",
         .program = signedBuild, .trustTestRoot = true, .recorded = "3.0.0.0\n", .appGone = true,
         .exitCode = 1},
        {.name = "an older signed release, the record above the installed version",
         .server = {Signed()}, .steps = refused, .starts = {L"1.2.3.4"}, .requests = 1,
         .logged = "decision=older-than-recorded", .program = signedBuild, .trustTestRoot = true,
         .recorded = "3.0.0.0\n"},
        {.name = "a damaged record is written again from the installed version",
         .server = {{.body = ManifestJson("1.2.3.4")}}, .steps = refused, .starts = {L"1.2.3.4"},
         .logged = "record result=damaged[\\s\\S]*record result=written version=1\\.2\\.3\\.4",
         .recorded = "\x01\x02"},
        refusal("version changed", Signed("\"2.0.0.0\"", "\"2.0.0.1\""), bad),
        refusal("url path changed", Signed("/zel.zip", "/zel.zip?x"), bad),
        refusal("sha256 changed", Signed(GoodDigest(), Digest(L"damaged.zip")), bad),
        refusal("mandatory changed", Signed("false", "true"), bad),
        refusal("notes changed", Signed("notes", "Notes"), bad),
        refusal("no signature", Signed("\"signature\"", "\"sig\""), "signature=missing"),
        refusal("malformed", Signed("\"signature\": \"30", "\"signature\": \"31"),
                "signature=malformed decision=refused"),
        refusal("another key's signature", Signed("", "", "signed-other.json"), bad),
        refusal("no sha256", Signed(sha, "\"sha256\": \"\""), "sha256=absent bytes"),
        {.name = "signed build, a key neither pinned nor trusted",
         .server = {{.cert = "other-valid", .body = Signed().body}}, .steps = serverError,
         .logged = "trust result=refused", .program = signedBuild},
        // Without a release key: the pin alone, and signatures are not read.
        {.name = "unsigned build, the interceptor's key", .server = {Signed()},
         .steps = serverError, .logged = "key=mismatch presented=",
         .program = L"zel_updater_localhost.exe", .trustTestRoot = true},
        {.name = "unsigned build, another key's signature on a changed release",
         .server = {{.body = Signed("notes", "Notes", "signed-other.json").body}},
         .steps = {{kWindow}, {kClose}}},
        // The updater replacing itself with the one a release carries.
        {.name = "self-update to 9.9.9.9", .server = selfUpdate("selfupdate-9.zip"),
         .steps = installs, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0",
         .logged = "self_update from=1.1.0.0 to=9.9.9.9 result=ok", .fromOffice = true,
         .nextRun = "start updater_version=9.9.9.9"},
        {.name = "self-update refused: the self-check fails",
         .server = selfUpdate("selfupdate-liar.zip"), .steps = installs, .starts = {L"2.0.0.0"},
         .zelAfter = L"2.0.0.0", .logged = "to=9.9.9.9 result=self-check-failed",
         .fromOffice = true, .nextRun = "start updater_version=1.1.0.0",
         .report = "result=failed&stage=self-update&cause=self-check-failed&"},
        {.name = "self-update refused: not newer", .server = selfUpdate("selfupdate-same.zip"),
         .steps = installs, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0",
         .logged = "self_update from=1.1.0.0 to=1.1.0.0 result=not-newer", .fromOffice = true,
         .nextRun = "start updater_version=1.1.0.0"},
        {.name = "a powershell.exe and a version.dll planted beside the updater never run",
         .server = {{.body = ManifestJson("2.0.0.0", false, "", GoodDigest())}, archive("good.zip")},
         .steps = installs, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0",
         .logged = "unpack.end way=powershell exit_code=0", .fromOffice = true, .planted = true},
        {.name = "a self-update cut off half-way is tidied at the next start",
         .server = {{.body = ManifestJson("1.2.3.4")}}, .steps = refused, .starts = {L"1.2.3.4"},
         .logged = "self_update.cleanup", .fromOffice = true, .leftovers = true},
        // The new updater proves itself by a whole start, or makes way.
        {.name = "a new updater that crashes at every start: the previous one is back",
         .server = selfUpdate("selfupdate-crash.zip"), .steps = installs, .starts = {L"2.0.0.0"},
         .zelAfter = L"2.0.0.0", .logged = "to=9.9.9.9 result=ok", .fromOffice = true,
         .nextRun = "self_update.rollback from=9.9.9.9 to=1.1.0.0 reason=unfinished-start "
                    "result=ok[\\s\\S]*start updater_version=1\\.1\\.0\\.0[\\s\\S]*app.start pid"
                    "[\\s\\S]*end exit_code=0", .crashes = 1},
        {.name = "a new updater that hangs at start: the previous one is back after the bound",
         .server = selfUpdate("selfupdate-hang.zip"), .steps = installs, .starts = {L"2.0.0.0"},
         .zelAfter = L"2.0.0.0", .logged = "to=9.9.9.9 result=ok", .fromOffice = true,
         .nextRun = "self_update.rollback from=9.9.9.9 to=1.1.0.0 reason=start-timeout "
                    "result=ok[\\s\\S]*start updater_version=1\\.1\\.0\\.0", .crashes = 1},
        {.name = "the self-check leaves a process holding its output: the updater goes on",
         .server = selfUpdate("selfupdate-holder.zip"), .steps = installs, .starts = {L"2.0.0.0"},
         .zelAfter = L"2.0.0.0", .logged = "to=9.9.9.9 result=ok", .fromOffice = true,
         .nextRun = replaced},
        {.name = "cut between the renames, the previous copy started",
         .server = {{.body = ManifestJson("1.2.3.4")}}, .steps = refused,
         .starts = {L"1.2.3.4"}, .logged = healed, .cut = L"zel_updater.previous.exe"},
        {.name = "cut between the renames, the incoming copy started",
         .server = {{.body = ManifestJson("1.2.3.4")}}, .steps = refused,
         .starts = {L"1.2.3.4"}, .logged = healed, .cut = L"zel_updater.incoming.exe"},
        // A signed build takes only an updater of its own identity, or its hand-over.
        {.name = "carried updater with another pin", .server = signedSelfUpdate("other-pin"),
         .steps = installs, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0",
         .logged = "to=9.9.9.9 result=identity-differs", .program = signedBuild,
         .fromOffice = true, .nextRun = stayed},
        {.name = "carried updater with another release key", .server = signedSelfUpdate("other-key"),
         .steps = installs, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0",
         .logged = "to=9.9.9.9 result=identity-differs", .program = signedBuild,
         .fromOffice = true, .nextRun = stayed},
        {.name = "carried updater without a release key", .server = signedSelfUpdate("no-key"),
         .steps = installs, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0",
         .logged = "to=9.9.9.9 result=identity-differs", .program = signedBuild,
         .fromOffice = true, .nextRun = stayed},
        {.name = "carried updater handing over to a new pin and key",
         .server = signedSelfUpdate("hand-over"), .steps = installs, .starts = {L"2.0.0.0"},
         .zelAfter = L"2.0.0.0", .logged = "to=9.9.9.9 result=ok", .program = signedBuild,
         .fromOffice = true, .nextRun = replaced},
    };
    // clang-format on
    const auto first = std::ranges::find_if(scenarios, [](const Scenario& s) {
        return std::string(s.name) == "self-update to 9.9.9.9";
    });
    for (auto it = updatesItself ? first : std::begin(scenarios);
         it != (updatesItself ? std::end(scenarios) : first); ++it) {
        Play(*it);
    }
}

TEST_F(UpdaterEndToEnd, SparePinAndSignedReleases) {
    PlaySignedReleasesAndSelfUpdate(false);
}

TEST_F(UpdaterEndToEnd, SelfUpdate) {
    PlaySignedReleasesAndSelfUpdate(true);
}

// A signed release's archive from the mirror its url names (a test server on
// another port whose certificate chains to the test root), and from the
// pinned server whenever the mirror fails it.
TEST_F(UpdaterEndToEnd, ArchivesFromAMirror) {
    UseServerGroup(static_cast<int>(kOfficeScenarioGroups) + 4);
    using enum Op;
    const std::vector<Step> installs = {{kWindow}, {kClickStart}};
    // From the pinned server: only the archive's host presents a chain.
    const ServerResponse manifest{.body = Signed("", "", "mirror.json").body};
    const auto mirrored = [](const char* name, long long dropAfter = -1,
                             const char* cert = "mirror-valid") {
        ServerResponse response = Archive(name);
        response.cert = cert;
        response.dropAfter = dropAfter;
        return response;
    };
    ServerResponse ignoresRanges = mirrored("good.zip");
    ignoresRanges.ignoreRange = true;
    const auto fallback = [&](const char* name, const ServerResponse& answer, const char* logged) {
        return Scenario{.name = name,
                        .server = {manifest, Archive()},
                        .steps = installs,
                        .starts = {L"2.0.0.0"},
                        .zelAfter = L"2.0.0.0",
                        .requests = 3,
                        .logged = logged,
                        .program = L"zel_updater_signed.exe",
                        .trustTestRoot = true,
                        .report = "result=installed&[^ ]*&source=origin ",
                        .mirror = {answer},
                        .mirrorRequests = 1};
    };
    // Only the mirror's own certificate, from a root the office does not have.
    Scenario unknownIssuer =
        fallback("the mirror's issuer is unknown", mirrored("good.zip", -1, "mirror-leaf"),
                 "trust result=refused chain_status=[\\s\\S]*download.fallback from=mirror");
    unknownIssuer.trustTestRoot = false;
    // clang-format off
    const Scenario scenarios[] = {
        {.name = "from the mirror, cut and resumed there", .server = {manifest},
         .steps = installs, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0", .requests = 2,
         .logged = "download result=ok attempts=2 source=mirror", .resumed = true,
         .program = L"zel_updater_signed.exe", .trustTestRoot = true,
         .report = "result=installed&[^ ]*&source=mirror ",
         .mirror = {mirrored("good.zip", 30000), mirrored("good.zip")}, .mirrorRequests = 2},
        {.name = "from a mirror that ignores ranges: whole again there", .server = {manifest},
         .steps = installs, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0", .requests = 2,
         .logged = "download result=ok attempts=2 source=mirror",
         .program = L"zel_updater_signed.exe", .trustTestRoot = true,
         .mirror = {mirrored("good.zip", 30000), ignoresRanges}, .mirrorRequests = 2},
        fallback("the mirror answers 404", {.cert = "mirror-valid", .status = 404},
                 "download.fallback from=mirror to=origin stage=download reason=http-error "
                 "status=404[\\s\\S]*download result=ok attempts=2 source=origin"),
        fallback("the mirror sends another length", mirrored("nested.zip"),
                 "download.fallback from=mirror to=origin stage=download "
                 "reason=length-mismatch status=200"),
        fallback("the mirror sends other bytes", mirrored("damaged.zip"),
                 "download.fallback from=mirror to=origin stage=download "
                 "reason=digest-mismatch status=200"),
        fallback("the mirror's certificate is not trusted",
                 mirrored("good.zip", -1, "other-valid"),
                 "trust=refused[^\\n]*failure=trust[\\s\\S]*download.fallback from=mirror "
                 "to=origin stage=download reason=http-error"),
        unknownIssuer,
        {.name = "differential from the mirror", .server = {{.body = Signed("", "", "mirror-delta.json").body}},
         .steps = installs, .starts = {L"2.0.0.0"}, .zelAfter = L"2.0.0.0", .requests = 2,
         .logged = "delta result=ok [^\\n]*source=mirror[\\s\\S]*download result=ok "
                   "attempts=0 source=mirror",
         .program = L"zel_updater_signed.exe", .previous = "delta-old.zip", .differential = true,
         .trustTestRoot = true,
         .mirror = {{.cert = "mirror-valid", .bodyFile = "bin/archives/delta-new.zip"}}},
        // Without a release key nothing vouches for another host's bytes.
        {.name = "unsigned build: the pinned server, whatever host the url names",
         .server = {manifest, Archive()}, .steps = installs, .starts = {L"2.0.0.0"},
         .zelAfter = L"2.0.0.0", .requests = 3,
         .logged = "download result=ok attempts=1 source=origin",
         .program = L"zel_updater_localhost.exe", .trustTestRoot = true,
         .mirror = {mirrored("good.zip")}, .mirrorRequests = 0},
    };
    // clang-format on
    for (const Scenario& s : scenarios) {
        Play(s);
    }
}

}  // namespace
