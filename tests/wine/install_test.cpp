// Installation scenarios with real folders, real processes and the stand-in
// unpacker. InstallPackage ends its process, so it runs in install_driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <tuple>

#include "common/texts.h"
#include "install/folders.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

class Installation : public testing::Test {
  protected:
    void SetUp() override { Fresh(); }
    void TearDown() override { KillStrayApps(); }
    const ScratchFolder& scratch() const { return *folder_; }

    // A new, empty scratch folder for the next case of a table.
    void Fresh() {
        KillStrayApps();
        folder_.reset();
        folder_ = std::make_unique<ScratchFolder>();
        record_ = UseAppRecord(scratch().path());
        boxes_ = scratch() / L"boxes.txt";
        SetEnvironmentVariableW(L"ZEL_BOX_RECORD", boxes_.c_str());
    }
    DWORD Run(const std::wstring& step, const std::wstring& driver = BinFolder()) {
        ChildProcess run =
            StartProcess(L"\"" + driver + L"\\install_driver.exe\" " + step, scratch().path());
        return WaitForExit(run, kEventWaitMs);
    }
    // Starts the copy of the application at `relative`, put there first from
    // `variant` when one is named, in its own folder; waits for its start.
    ChildProcess Start(const std::wstring& relative, const wchar_t* variant = nullptr) {
        const std::wstring path = scratch() / relative;
        const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
        if (variant != nullptr) {
            MakeFolder(folder);
            CopyInto(AppVariant(variant), path);
        }
        const size_t before = ReadAppRecords(record_).size();
        ChildProcess app = StartProcess(L"\"" + path + L"\"", folder);
        EXPECT_EQ(WaitForAppRecords(record_, before + 1).size(), before + 1);
        return app;
    }
    std::string Log() { return ReadBytes(scratch() / L"zel_updater.log"); }

    std::unique_ptr<ScratchFolder> folder_;
    std::wstring record_;
    std::wstring boxes_;
};

// Whatever happens, ZEL ends holding a whole application: the new one, with
// the old one kept as ZEL.bak, or the old one as it was.
TEST_F(Installation, LeavesTheNewOrTheOldApplicationInZel) {
    const wchar_t* const inUse = texts::kInstallFolderInUse;
    const wchar_t* const badArchive = texts::kExtractError;
    struct Case {
        const char* name;
        // The application's and the unpacker's records: the application is
        // closed only once the release is unpacked.
        std::wstring events;
        const char* logged = "";
        const wchar_t* box = nullptr;  // the failure shown; none: installed
        const wchar_t* archive = L"good.zip";
        const wchar_t* running = nullptr;  // variant started from ZEL before
        bool zel = true;
        bool stale = false;                     // a stale ZEL.bak and update
        DWORD holdZelMs = 0;                    // ZEL in use by another office's copy
        bool holdUpdate = false;                // the new files are held after the unpack
        const wchar_t* announced = L"2.0.0.0";  // the manifest's version
        bool putBack = false;                   // installed, did not start, and the old one is back
        PowerShell powershell = PowerShell::kStandIn;
        // Where a program that leaves a marker is planted as powershell.exe;
        // the updater then runs from app\ below the current folder.
        const wchar_t* planted = nullptr;
    } const cases[] = {
        // clang-format off
        {.name = "first installation", .events = L"unpac,start", .zel = false},
        {.name = "stale ZEL.bak and update", .events = L"unpac,start", .stale = true},
        {.name = "running application", .events = L"start,unpac,close,close,start",
         .running = L"v1.2.3.4"},
        {.name = "application refusing to close", .events = L"start,unpac,close,close,start",
         .running = L"refuses-close"},
        {.name = "ZEL in use for 3 s", .events = L"unpac,start", .holdZelMs = 3000},
        // Where PowerShell fails or cannot run, the built-in unpack installs.
        {.name = "PowerShell blocked", .events = L"unpac,start",
         .logged = "way=powershell exit_code=1 [\\s\\S]*way=builtin result=ok",
         .powershell = PowerShell::kBlocked},
        {.name = "no PowerShell", .events = L"start",
         .logged = "way=powershell result=failed error=\"2 [\\s\\S]*way=builtin result=ok",
         .powershell = PowerShell::kMissing},
        {.name = "PowerShell hung", .events = L"unpac,start",
         .logged = "way=powershell result=timeout [\\s\\S]*way=builtin result=ok",
         .powershell = PowerShell::kHung},
        {.name = "PowerShell says 0 with half the files", .events = L"unpac,start",
         .logged = "way=powershell result=incomplete exit_code=0 reason=missing entry=data/ "
                   "[\\s\\S]*way=builtin result=ok",
         .powershell = PowerShell::kHalf},
        // Only the system's PowerShell runs, never one found by its name.
        {.name = "powershell.exe in the current folder", .events = L"unpac,start",
         .planted = L"powershell.exe"},
        {.name = "powershell.exe beside the updater", .events = L"unpac,start",
         .planted = L"app\\powershell.exe"},
        // A failed unpack never closes the application; a failed swap has
        // closed it, and the updater's end starts it again. A bad archive
        // fails both ways, as it failed PowerShell alone.
        {.name = "damaged archive", .events = L"start,unpac",
         .logged = "way=powershell exit_code=4 [\\s\\S]*way=builtin result=failed reason=data",
         .box = badArchive, .archive = L"damaged.zip", .running = L"v1.2.3.4"},
        {.name = "no archive", .events = L"start,unpac",
         .logged = "way=powershell exit_code=3 [\\s\\S]*way=builtin result=failed reason=read error=\"2 ",
         .box = badArchive, .archive = nullptr, .running = L"v1.2.3.4"},
        {.name = "CRC", .events = L"unpac", .logged = "reason=crc entry=readme.txt",
         .box = badArchive, .archive = L"crc.zip"},
        {.name = "..\\", .events = L"unpac", .logged = R"(reason=name entry=\.\.\\evil)",
         .box = badArchive, .archive = L"dotdot.zip"},
        {.name = "absolute", .events = L"unpac", .logged = "reason=name entry=/evil",
         .box = badArchive, .archive = L"absolute.zip"},
        {.name = "drive", .events = L"unpac", .logged = "reason=name entry=C:evil",
         .box = badArchive, .archive = L"drive.zip"},
        {.name = "stream", .events = L"unpac", .logged = "reason=name entry=zel_acc.exe:evil",
         .box = badArchive, .archive = L"stream.zip"},
        // Names that land on another file on Windows.
        {.name = "case", .events = L"unpac", .logged = "builtin result=failed reason=name entry=ZEL_ACC.EXE",
         .box = badArchive, .archive = L"case.zip"},
        {.name = "8.3", .events = L"unpac", .logged = "builtin result=failed reason=name entry=ZEL_AC~1.EXE",
         .box = badArchive, .archive = L"short.zip"},
        {.name = "device", .events = L"unpac", .logged = "builtin result=failed reason=name entry=data/COM0",
         .box = badArchive, .archive = L"device.zip"},
        // Refused before either way starts.
        {.name = "zip bomb", .events = L"start", .logged = "unpack.space needed=\\d+ free=\\d+ result=short",
         .box = badArchive, .archive = L"bomb.zip", .running = L"v1.2.3.4"},
        {.name = "nested archive", .events = L"start,unpac", .logged = "unpack.check result=failed",
         .box = badArchive, .archive = L"nested.zip", .running = L"v1.2.3.4"},
        {.name = "ZEL in use throughout", .events = L"start,unpac,close,close",
         .logged = "move from=ZEL to=ZEL\\.bak attempts=\\d+ result=failed error=\"32 ",
         .box = inUse, .running = L"v1.2.3.4", .holdZelMs = 60000},
        // ZEL is already ZEL.bak when update cannot follow: it must come back.
        {.name = "new files held", .events = L"start,unpac,close,close",
         .logged = "move from=ZEL\\.bak to=ZEL attempts=1 result=ok", .box = inUse,
         .running = L"v1.2.3.4", .holdUpdate = true},
        // A release is kept only when it is the announced one and starts.
        {.name = "another version than announced", .events = L"start,unpac",
         .logged = "unpack.check result=failed version=2.0.0.0 announced=3.0.0.0",
         .box = texts::kReleaseVersionMismatch, .running = L"v1.0.0.0", .announced = L"3.0.0.0"},
        {.name = "a release that is not a program", .events = L"start,unpac,close,close,start",
         .logged = "app.start path=ZEL\\\\zel_acc.exe result=failed error=\"193 [\\s\\S]*"
                   "install result=failed reason=\"the new application does not start\"[\\s\\S]*"
                   "move from=ZEL\\.bak to=ZEL attempts=1 result=ok[\\s\\S]*app.start pid=",
         .box = texts::kNewVersionDidNotStart, .archive = L"not-a-program.zip",
         .running = L"v1.0.0.0", .putBack = true},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        if (c.archive != nullptr) {
            CopyInto(BinFolder() + L"\\archives\\" + c.archive, scratch() / L"zel.zip");
        }
        if (c.zel) {
            InstallApp(scratch().path(), c.running != nullptr ? c.running : L"v1.2.3.4");
            WriteBytes(scratch() / L"ZEL\\old.txt", "old installation");
        }
        if (c.stale) {
            InstallApp(scratch() / L"ZEL.bak", L"v1.2.10.0");
            WriteBytes(scratch() / L"ZEL.bak\\stale.txt", "stale");
            MakeFolder(scratch() / L"update");
            WriteBytes(scratch() / L"update\\leftover.txt", "leftover");
        }
        if (c.running != nullptr) {
            CloseHandle(Start(L"ZEL\\zel_acc.exe").process);
        }
        ChildProcess holder;
        if (c.holdZelMs > 0) {
            holder = StartZelHolder(scratch().path(), c.holdZelMs);
        }
        SetEnvironmentVariableW(L"ZEL_UNPACK_HOLD_MS", c.holdUpdate ? L"9000" : nullptr);
        UsePowerShell(c.powershell);
        std::wstring driver = BinFolder();
        if (c.planted != nullptr) {
            MakeFolder(scratch() / L"app");
            CopyInto(driver + L"\\install_driver.exe", scratch() / L"app\\install_driver.exe");
            CopyInto(driver + L"\\planted.exe", scratch() / c.planted);
            driver = scratch() / L"app";
        }
        const bool installed = c.box == nullptr;
        EXPECT_EQ(Run(L"install " + std::wstring(c.announced), driver),
                  installed || c.putBack ? 0u : 3u);
        SetEnvironmentVariableW(L"ZEL_UNPACK_HOLD_MS", nullptr);
        UsePowerShell(PowerShell::kStandIn);

        std::wstring events;
        for (const auto& r : WaitForAppRecords(record_, std::ranges::count(c.events, L',') + 1)) {
            events += (events.empty() ? L"" : L",") + r.event.substr(0, 5);
            if (r.event == L"unpack") {
                EXPECT_EQ(r.folder, BinFolder() + L"\\unpacker");
            }
        }
        if (c.planted != nullptr) {
            EXPECT_FALSE(Exists(scratch() / c.planted + L".ran")) << "the planted program ran";
        }
        EXPECT_EQ(events, c.events);
        EXPECT_TRUE(std::regex_search(Log(), std::regex(c.logged))) << Log();
        const std::wstring box = installed ? L"" : c.box + std::wstring(L"\tخطا\t16\n");
        EXPECT_EQ(Narrow2Wide(ReadBytes(boxes_)), box);
        EXPECT_TRUE(Exists(scratch() / L"ZEL\\zel_acc.exe"));
        EXPECT_EQ(Exists(scratch() / L"ZEL\\data\\config.ini"), installed);
        EXPECT_EQ(ReadBytes(scratch() / L"ZEL\\old.txt"), installed ? "" : "old installation");
        EXPECT_EQ(ReadBytes(scratch() / L"ZEL.bak\\old.txt"),
                  installed && c.zel ? "old installation" : "");
        EXPECT_EQ(Exists(scratch() / L"ZEL.bak"), installed && c.zel);
        EXPECT_FALSE(Exists(scratch() / L"ZEL\\leftover.txt"));
        EXPECT_FALSE(Exists(scratch() / L"evil.txt") || Exists(L"\\evil.txt"));
        // Removed where possible: held, it waits for the next installation.
        EXPECT_EQ(Exists(scratch() / L"update"), c.holdUpdate);
        if (installed || c.putBack) {
            const auto records = ReadAppRecords(record_);
            const AppRecord last = records.empty() ? AppRecord() : records.back();
            EXPECT_EQ(last.version, installed ? L"2.0.0.0" : L"1.0.0.0");
            EXPECT_EQ(last.commandLine, L"\"ZEL\\zel_acc.exe\" ");
        }
        // Another office's copy is never asked to close; it runs on when the
        // installation gave up waiting for it.
        EXPECT_EQ(ReadAppRecords(scratch() / L"other-record.txt").size(), c.holdZelMs ? 1u : 0u);
        EXPECT_EQ(WaitForExit(holder, installed ? kEventWaitMs : 0),
                  installed && c.holdZelMs ? 0u : STILL_ACTIVE);
        WaitUntil([&] { return RemoveFolderTree(scratch() / L"update"); });
    }
}

TEST_F(Installation, TheLaterButtonEndsOnlyThisOfficesApplication) {
    // Where a copy runs, which copy, and whether it is this office's.
    const std::tuple<const wchar_t*, const wchar_t*, bool> cases[] = {
        {L"zel\\zel_acc.exe", L"v1.2.3.4", true},  // folder names in any case
        {L"ZEL.bak\\zel_acc.exe", L"refuses-close", true},
        {L"update\\helper.exe", L"v1.2.3.4", true},       // any program inside
        {L"ZELx\\ZEL\\zel_acc.exe", L"v1.2.3.4", false},  // another office
    };
    std::vector<ChildProcess> apps;
    for (const auto& [place, variant, ours] : cases) {
        apps.push_back(Start(place, variant));
    }
    EXPECT_EQ(Run(L"later"), 0u);
    for (size_t i = 0; i < apps.size(); ++i) {
        const auto& [place, variant, ours] = cases[i];
        SCOPED_TRACE(Wide2Narrow(place));
        const DWORD pid = apps[i].pid;
        EXPECT_EQ(WaitForExit(apps[i], 0), ours ? 0u : STILL_ACTIVE);
        EXPECT_EQ(std::ranges::count_if(
                      ReadAppRecords(record_),
                      [pid](const AppRecord& r) { return r.pid == pid && r.event != L"start"; }),
                  ours ? 2 : 0)
            << "both windows";
    }
    const auto records = WaitForAppRecords(record_, 11);
    ASSERT_EQ(records.size(), 11u);
    EXPECT_EQ(records.back().event, L"start") << "and the application started again";
}

// Only what the updater set aside is removed, never the office's own *.old-*.
TEST_F(Installation, TheNextStartHealsAndRemovesWhatWasSetAside) {
    MakeFolder(scratch() / L"ZEL.bak");
    WriteBytes(scratch() / L"ZEL.bak\\old.txt", "old installation");
    InstallApp(scratch() / L"update.old-12", L"v1.2.3.4");
    InstallApp(scratch() / L"ZEL.bak.old-345", L"v1.2.3.4");
    MakeFolder(scratch() / L"Books.old-2023");
    WriteBytes(scratch() / L"Books.old-2023\\ledger.dat", "ledger");
    WriteBytes(scratch() / L"notes.old-1.txt", "notes");
    EXPECT_EQ(Run(L"tidy"), 0u);
    EXPECT_EQ(ReadBytes(scratch() / L"ZEL\\old.txt"), "old installation");
    EXPECT_FALSE(Exists(scratch() / L"ZEL.bak"));
    EXPECT_FALSE(Exists(scratch() / L"update.old-12") || Exists(scratch() / L"ZEL.bak.old-345"));
    EXPECT_EQ(ReadBytes(scratch() / L"Books.old-2023\\ledger.dat"), "ledger");
    EXPECT_EQ(ReadBytes(scratch() / L"notes.old-1.txt"), "notes");
}

}  // namespace
