// Installation scenarios with real folders, real processes and the stand-in
// unpacker. InstallPackage ends its process, so it runs in install_driver.
#include <gtest/gtest.h>

#include <memory>

#include "common/texts.h"
#include "install/folders.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

class Installation : public testing::Test {
  protected:
    void SetUp() override { Fresh(); }
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
    void TearDown() override { KillStrayApps(); }

    void UseArchive(const wchar_t* name) {
        CopyInto(BinFolder() + L"\\archives\\" + name, scratch() / L"zel.zip");
    }
    void InstallOld(const wchar_t* variant = L"v1.2.3.4") {
        InstallApp(scratch().path(), variant);
        WriteBytes(scratch() / L"ZEL\\old.txt", "old installation");
    }
    DWORD Run(const wchar_t* step) {
        return RunProcess(L"\"" + BinFolder() + L"\\install_driver.exe\" " + step, scratch().path(),
                          30000);
    }
    void StartInstalled() {
        ChildProcess app =
            StartProcess(L"\"" + (scratch() / L"ZEL\\zel_acc.exe") + L"\"", scratch() / L"ZEL");
        ASSERT_NE(app.process, nullptr);
        CloseHandle(app.process);
        ASSERT_EQ(WaitForAppRecords(record_, 1).size(), 1u);
    }
    // The events of the application and the unpacker in order, once there
    // are `count` of them: "start,unpack,close,close,start".
    std::wstring Events(size_t count) {
        std::wstring events;
        for (const auto& r : WaitForAppRecords(record_, count)) {
            events += (events.empty() ? L"" : L",") + r.event.substr(0, 5);
        }
        return events;
    }
    std::string Log() { return ReadBytes(scratch() / L"zel_updater.log"); }

    std::unique_ptr<ScratchFolder> folder_;
    std::wstring record_;
    std::wstring boxes_;
};

TEST_F(Installation, ReplacesZelAndKeepsTheOldOneAsBackup) {
    struct Case {
        const char* name;
        bool zel;
        bool staleBackup;
        bool staleUpdate;
        const wchar_t* running;  // variant started from ZEL before, or nullptr
        DWORD holdMs;            // ZEL held in use by another office's copy
    } const cases[] = {
        {"first installation", false, false, false, nullptr, 0},
        {"stale ZEL.bak and update", true, true, true, nullptr, 0},
        {"running application", true, false, false, L"v1.2.3.4", 0},
        {"application refusing to close", true, false, false, L"refuses-close", 0},
        {"ZEL in use for 3 s", true, false, false, nullptr, 3000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        UseArchive(L"good.zip");
        if (c.zel) {
            InstallOld(c.running != nullptr ? c.running : L"v1.2.3.4");
        }
        if (c.staleBackup) {
            InstallApp(scratch() / L"ZEL.bak", L"v1.2.10.0");
            WriteBytes(scratch() / L"ZEL.bak\\stale.txt", "stale");
        }
        if (c.staleUpdate) {
            MakeFolder(scratch() / L"update");
            WriteBytes(scratch() / L"update\\leftover.txt", "leftover");
        }
        if (c.running != nullptr) {
            StartInstalled();
        }
        ChildProcess holder;
        if (c.holdMs > 0) {
            holder = StartZelHolder(scratch().path(), c.holdMs);
        }
        EXPECT_EQ(Run(L"install"), 0u);
        // The application is closed only once the release is unpacked.
        EXPECT_EQ(Events(c.running ? 5 : 2),
                  c.running ? L"start,unpac,close,close,start" : L"unpac,start");
        EXPECT_EQ(ReadAppRecords(record_).back().version, L"2.0.0.0");
        EXPECT_EQ(ReadAppRecords(record_).back().commandLine, L"\"ZEL\\zel_acc.exe\" ");
        EXPECT_TRUE(Exists(scratch() / L"ZEL\\data\\config.ini"));
        EXPECT_FALSE(Exists(scratch() / L"ZEL\\leftover.txt"));
        EXPECT_FALSE(Exists(scratch() / L"update"));
        EXPECT_FALSE(Exists(scratch() / L"ZEL.bak\\stale.txt"));
        EXPECT_EQ(ReadBytes(scratch() / L"ZEL.bak\\old.txt"), c.zel ? "old installation" : "");
        EXPECT_EQ(WaitForExit(holder, 10000), c.holdMs > 0 ? 0u : STILL_ACTIVE);
        KillStrayApps();
    }
}

TEST_F(Installation, AFailureLeavesTheOldApplicationInPlace) {
    struct Case {
        const wchar_t* archive;
        bool holdZel;
        const wchar_t* box;
        const char* logged;
        bool holdUpdate = false;  // the new files are held after the unpack
    } const cases[] = {
        {L"damaged.zip", false, texts::kExtractError, "unpack.end exit_code=4"},
        {L"missing.zip", false, texts::kExtractError, "unpack.end exit_code=3"},
        {L"nested.zip", false, texts::kExtractError, "unpack.check result=failed"},
        {L"good.zip", true, texts::kInstallFolderInUse, "attempts="},
        // ZEL is already ZEL.bak when update cannot follow: it must come back.
        {L"good.zip", false, texts::kInstallFolderInUse,
         "move from=ZEL.bak to=ZEL attempts=1 result=ok", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Wide2Narrow(c.archive));
        Fresh();
        InstallOld();
        if (std::wstring(c.archive) != L"missing.zip") {
            UseArchive(c.archive);
        }
        StartInstalled();
        ChildProcess holder;
        if (c.holdZel) {
            holder = StartZelHolder(scratch().path(), 60000);
        }
        SetEnvironmentVariableW(L"ZEL_UNPACK_HOLD_MS", c.holdUpdate ? L"9000" : nullptr);
        EXPECT_EQ(Run(L"install"), 3u) << "InstallPackage returns after a failure";
        SetEnvironmentVariableW(L"ZEL_UNPACK_HOLD_MS", nullptr);
        EXPECT_EQ(ReadBytes(scratch() / L"ZEL\\old.txt"), "old installation");
        EXPECT_TRUE(Exists(scratch() / L"ZEL\\zel_acc.exe"));
        EXPECT_FALSE(Exists(scratch() / L"ZEL.bak"));
        // Removed where possible: held, it waits for the next installation.
        EXPECT_EQ(Exists(scratch() / L"update"), c.holdUpdate);
        const ULONGLONG heldUntil = GetTickCount64() + 10000;
        while (!RemoveFolderTree(scratch() / L"update") && GetTickCount64() < heldUntil) {
            Sleep(100);  // until the holder of the new files has gone
        }
        EXPECT_EQ(Narrow2Wide(ReadBytes(boxes_)),
                  std::wstring(c.box) + L"\t" + texts::kErrorCaptionPersian + L"\t16\n");
        EXPECT_NE(Log().find(c.logged), std::string::npos) << Log();
        // A failed unpack never closes the application; a failed swap has
        // closed it, and the updater's end starts it again.
        const bool swapFailed = c.holdZel || c.holdUpdate;
        EXPECT_EQ(Events(swapFailed ? 4 : 2),
                  swapFailed ? L"start,unpac,close,close" : L"start,unpac");
        if (c.holdZel) {
            EXPECT_NE(Log().find("move from=ZEL to=ZEL.bak"), std::string::npos);
            EXPECT_NE(Log().find("result=failed error=\"32 "), std::string::npos);
            EXPECT_EQ(WaitForExit(holder, 0), STILL_ACTIVE) << "another office's copy runs on";
            EXPECT_EQ(ReadAppRecords(scratch() / L"other-record.txt").size(), 1u) << "no close";
        }
    }
}

TEST_F(Installation, TheNextStartHealsAndRemovesWhatWasSetAside) {
    InstallOld();
    ASSERT_TRUE(MoveFileW((scratch() / L"ZEL").c_str(), (scratch() / L"ZEL.bak").c_str()));
    InstallApp(scratch() / L"update.old-12", L"v1.2.3.4");
    EXPECT_EQ(Run(L"tidy"), 0u);
    EXPECT_EQ(ReadBytes(scratch() / L"ZEL\\old.txt"), "old installation");
    EXPECT_FALSE(Exists(scratch() / L"ZEL.bak"));
    EXPECT_FALSE(Exists(scratch() / L"update.old-12"));
}

}  // namespace
