// Installation scenarios with real folders, real processes and the stand-in
// unpacker. InstallPackage ends its process, so it runs in install_driver.
#include <gtest/gtest.h>

#include <memory>

#include "common/texts.h"
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
    void InstallOld() {
        InstallApp(scratch().path(), L"v1.2.3.4");
        WriteBytes(scratch() / L"ZEL\\books.dat", "the office's books");
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
    // Waits for the application of that version to record its start, which
    // may come after the installation's process has ended.
    bool StartedVersion(const std::wstring& version) {
        const ULONGLONG deadline = GetTickCount64() + 10000;
        do {
            for (const auto& r : ReadAppRecords(record_)) {
                if (r.event == L"start" && r.version == version) {
                    EXPECT_EQ(r.commandLine, L"\"ZEL\\zel_acc.exe\" ");
                    return true;
                }
            }
            Sleep(50);
        } while (GetTickCount64() < deadline);
        return false;
    }
    void ExpectNewInstalled() {
        EXPECT_TRUE(Exists(scratch() / L"ZEL\\zel_acc.exe"));
        EXPECT_TRUE(Exists(scratch() / L"ZEL\\data\\config.ini"));
        EXPECT_FALSE(Exists(scratch() / L"update"));
        EXPECT_TRUE(Exists(scratch() / L"zel.zip"));
        EXPECT_TRUE(StartedVersion(L"2.0.0.0"));
    }
    void ExpectOldKeptAfterFailure(DWORD exitCode) {
        EXPECT_EQ(exitCode, 3u) << "InstallPackage returns after a failed unpack";
        EXPECT_EQ(ReadBytes(scratch() / L"ZEL\\books.dat"), "the office's books");
        EXPECT_TRUE(Exists(scratch() / L"ZEL\\zel_acc.exe"));
        EXPECT_FALSE(Exists(scratch() / L"ZEL.bak"));
        const std::wstring box = Narrow2Wide(ReadBytes(boxes_));
        EXPECT_EQ(box, std::wstring(texts::kExtractError) + L"\t" + texts::kErrorCaptionPersian +
                           L"\t16\n");
    }

    std::unique_ptr<ScratchFolder> folder_;
    std::wstring record_;
    std::wstring boxes_;
};

TEST_F(Installation, FirstInstallationWithoutZel) {
    UseArchive(L"good.zip");
    EXPECT_EQ(Run(L"install"), 0u);
    ExpectNewInstalled();
    EXPECT_FALSE(Exists(scratch() / L"ZEL.bak"));
}

TEST_F(Installation, ReplacesZelAndKeepsTheOldOneAsBackup) {
    struct Case {
        const char* name;
        bool staleBackup;
        bool staleUpdate;
        const wchar_t* running;  // variant started from ZEL before, or nullptr
    } const cases[] = {
        {"plain", false, false, nullptr},
        {"stale ZEL.bak", true, false, nullptr},
        {"stale update", false, true, nullptr},
        {"running application", false, false, L"v1.2.3.4"},
        {"application refusing to close", false, false, L"refuses-close"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        InstallOld();
        UseArchive(L"good.zip");
        if (c.staleBackup) {
            InstallApp(scratch() / L"old", L"v1.2.10.0");
            MakeFolder(scratch() / L"ZEL.bak");
            WriteBytes(scratch() / L"ZEL.bak\\stale.txt", "stale");
        }
        if (c.staleUpdate) {
            MakeFolder(scratch() / L"update");
            WriteBytes(scratch() / L"update\\leftover.txt", "leftover");
        }
        if (c.running != nullptr) {
            if (std::wstring(c.running) != L"v1.2.3.4") {
                CopyInto(AppVariant(c.running), scratch() / L"ZEL\\zel_acc.exe");
            }
            StartInstalled();
        }
        EXPECT_EQ(Run(L"install"), 0u);
        ExpectNewInstalled();
        EXPECT_FALSE(Exists(scratch() / L"ZEL\\leftover.txt"));
        EXPECT_FALSE(Exists(scratch() / L"ZEL.bak\\stale.txt"));
        EXPECT_EQ(ReadBytes(scratch() / L"ZEL.bak\\books.dat"), "the office's books");
        KillStrayApps();
    }
}

TEST_F(Installation, ABadArchiveLeavesTheOldApplicationInPlace) {
    const wchar_t* archives[] = {L"damaged.zip",  L"nested.zip", L"climbing.zip",
                                 L"absolute.zip", L"drive.zip",  L"missing.zip"};
    for (const wchar_t* archive : archives) {
        SCOPED_TRACE(Wide2Narrow(archive));
        Fresh();
        InstallOld();
        if (std::wstring(archive) != L"missing.zip") {
            UseArchive(archive);
        }
        ExpectOldKeptAfterFailure(Run(L"install"));
        EXPECT_FALSE(Exists(scratch() / L"escaped.txt"));
        EXPECT_TRUE(ReadAppRecords(record_).empty()) << "nothing is started";
    }
}

TEST_F(Installation, AnInterruptedInstallationIsHealedAtTheNextStart) {
    InstallOld();
    ASSERT_TRUE(MoveFileW((scratch() / L"ZEL").c_str(), (scratch() / L"ZEL.bak").c_str()));
    EXPECT_EQ(Run(L"heal"), 0u);
    EXPECT_EQ(ReadBytes(scratch() / L"ZEL\\books.dat"), "the office's books");
    EXPECT_FALSE(Exists(scratch() / L"ZEL.bak"));
    EXPECT_EQ(Run(L"heal"), 1u) << "nothing to heal when ZEL exists";
}

}  // namespace
