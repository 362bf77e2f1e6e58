// The real updater, end to end: its own process in a fresh folder with ZEL
// holding the stand-in application, the real test server and the stand-in
// unpacker, driven through its window.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>

#include "app/main_window.h"
#include "common/texts.h"
#include "support/test_server_control.h"
#include "support/test_support.h"
#include "support/updater_driver.h"

using namespace testing_support;

namespace {

std::string ManifestJson(const std::string& version, const std::string& notes = "",
                         bool mandatory = false, const std::string& sha256 = "") {
    return R"({"version": ")" + version + R"(", "url": "https://cdn.example/zel/zel.zip", )" +
           R"("sha256": ")" + sha256 + R"(", "notes": ")" + notes + R"(", "releaseDate": )" +
           R"("2026-12-01", "mandatory": )" + (mandatory ? "true" : "false") + "}";
}

ServerResponse Body(const std::string& body) {
    ServerResponse response;
    response.body = body;
    return response;
}

class UpdaterEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        scratch_ = std::make_unique<ScratchFolder>();
        record_ = UseAppRecord(scratch_->path());
        InstallApp(scratch_->path(), L"v1.2.3.4");
    }
    void TearDown() override {
        run_.reset();
        KillStrayApps();
        scratch_.reset();
    }

    const std::wstring& folder() const { return scratch_->path(); }

    // The good archive as the server sends it, a moment late so that the
    // download's first status can be seen, and optionally held back part-way.
    ServerResponse Archive(int stallMs = 0, const wchar_t* name = L"good.zip") {
        ServerResponse response;
        response.bodyFile = UnixPath(BinFolder() + L"\\archives\\" + name);
        response.delayMs = 700;
        if (stallMs > 0) {
            response.stallAfter = 16384 * 4;
            response.stallMs = stallMs;
        }
        return response;
    }

    std::string GoodArchiveDigest() {
        return Sha256Hex(ReadBytes(BinFolder() + L"\\archives\\good.zip"));
    }

    UpdaterRun& Start(const wchar_t* program = L"zel_updater_test.exe") {
        run_ = std::make_unique<UpdaterRun>(BinFolder() + L"\\" + program, folder());
        return *run_;
    }

    // Start records of the application, in order.
    std::vector<AppRecord> Starts(size_t atLeast, DWORD timeoutMs = 10000) {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        std::vector<AppRecord> starts;
        do {
            starts.clear();
            for (const auto& r : ReadAppRecords(record_)) {
                if (r.event == L"start") {
                    starts.push_back(r);
                }
            }
            if (starts.size() >= atLeast) {
                break;
            }
            Sleep(50);
        } while (GetTickCount64() < deadline);
        return starts;
    }

    void ExpectStartedFromZel(const AppRecord& start, const wchar_t* version) {
        EXPECT_EQ(start.version, version);
        EXPECT_EQ(start.commandLine, L"\"ZEL\\zel_acc.exe\" ");
        EXPECT_EQ(_wcsicmp(start.folder.c_str(), (folder() + L"\\ZEL").c_str()), 0)
            << Wide2Narrow(start.folder);
    }

    void ExpectUpdated(size_t startsBefore = 0) {
        const auto starts = Starts(startsBefore + 1);
        ASSERT_FALSE(starts.empty());
        ExpectStartedFromZel(starts.back(), L"2.0.0.0");
        EXPECT_TRUE(Exists(folder() + L"\\ZEL.bak\\zel_acc.exe"));
        EXPECT_TRUE(Exists(folder() + L"\\ZEL\\data\\config.ini"));
    }

    void ExpectUntouched() {
        EXPECT_TRUE(Exists(folder() + L"\\ZEL\\zel_acc.exe"));
        EXPECT_FALSE(Exists(folder() + L"\\ZEL.bak"));
        EXPECT_FALSE(Exists(folder() + L"\\ZEL\\data"));
    }

    std::unique_ptr<ScratchFolder> scratch_;
    std::unique_ptr<UpdaterRun> run_;
    std::wstring record_;
};

TEST_F(UpdaterEndToEnd, WithoutANewerReleaseStartsTheApplicationSilently) {
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"v1.2.3.4", "1.2.3.4"},
        {L"v1.2.10.0", "1.2.9.9"},
    };
    for (const auto& [installed, offered] : cases) {
        SCOPED_TRACE(offered);
        TearDown();
        SetUp();
        CopyInto(AppVariant(installed), folder() + L"\\ZEL\\zel_acc.exe");
        SetServerScenario({Body(ManifestJson(offered))});
        UpdaterRun& run = Start();
        const HWND window = run.WaitForWindow();
        EXPECT_NE(window, nullptr);
        bool everVisible = false;
        while (run.Running()) {
            everVisible |= window != nullptr && IsWindowVisible(window);
            Sleep(5);
        }
        EXPECT_EQ(run.WaitForExit(), 0u);
        EXPECT_FALSE(everVisible);
        const auto starts = Starts(1);
        ASSERT_EQ(starts.size(), 1u);
        ExpectStartedFromZel(starts[0],
                             installed == std::wstring(L"v1.2.3.4") ? L"1.2.3.4" : L"1.2.10.0");
    }
}

TEST_F(UpdaterEndToEnd, AServerFailureShowsTheServerErrorBox) {
    ServerResponse failing = Body(ManifestJson("9.0.0.0"));
    failing.status = 500;
    ServerResponse otherKey = Body(ManifestJson("9.0.0.0"));
    otherKey.cert = "other-valid";
    const std::pair<const char*, ServerResponse> cases[] = {
        {"nothing listening", ServerResponse{}},
        {"status 500", failing},
        {"another key", otherKey},
    };
    for (const auto& [name, response] : cases) {
        SCOPED_TRACE(name);
        SetServerScenario({response});
        UpdaterRun& run =
            Start(std::string(name) == "nothing listening" ? L"zel_updater_unreachable.exe"
                                                           : L"zel_updater_test.exe");
        const BoxSeen box = run.WaitForBox();
        EXPECT_EQ(box.text, texts::kServerError);
        EXPECT_EQ(box.caption, texts::kServerErrorCaption);
        UpdaterRun::Dismiss(box);
        EXPECT_EQ(run.WaitForExit(), 0u);
        EXPECT_TRUE(Starts(0, 0).empty()) << "nothing is started";
    }
}

TEST_F(UpdaterEndToEnd, ANewerReleaseShowsTheWindowWithTheNotes) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"\\u0628\\u0647\\u0628\\u0648\\u062f\\r\\nline two",
         L"\\u0628\\u0647\\u0628\\u0648\\u062f\r\nline two"},
        {"\xd8\xa8\xd9\x87\xd8\xa8\xd9\x88\xd8\xaf \xd8\xb3\xd8\xb1\xd8\xb9\xd8\xaa\\nbb",
         L"بهبود سرعت\r\nbb"},
        {"a\\rb", L"a\rb"},
        {"", L""},
    };
    for (const auto& [notes, shown] : cases) {
        SCOPED_TRACE(notes);
        SetServerScenario({Body(ManifestJson("2.0.0.0", notes))});
        UpdaterRun& run = Start();
        ASSERT_NE(run.WaitForVisibleWindow(), nullptr);
        EXPECT_EQ(run.NotesText(), L"نسخه کلاینت: 1.2.3.4\r\nنسخه سرور: 2.0.0.0\r\n" + shown);
        EXPECT_EQ(WindowText(run.window()), texts::kWindowTitle);
        EXPECT_EQ(WindowText(run.Control(kStartButtonId)), texts::kStartButtonText);
        EXPECT_EQ(WindowText(run.Control(kLaterButtonId)), texts::kLaterButtonText);
        EXPECT_TRUE(IsWindowEnabled(run.window()));
        EXPECT_TRUE(IsWindowVisible(run.Control(kStartButtonId)));
        EXPECT_TRUE(IsWindowVisible(run.Control(kLaterButtonId)));
        EXPECT_EQ(GetWindowLongW(run.window(), GWL_EXSTYLE) & 0x00403000, 0x00403000);
        EXPECT_EQ(SendMessageW(run.Control(kProgressBarId), PBM_GETRANGE, TRUE, 0), 0);
        EXPECT_EQ(SendMessageW(run.Control(kProgressBarId), PBM_GETRANGE, FALSE, 0), 100);
        EXPECT_EQ(run.ProgressPosition(), 0);
        EXPECT_EQ(run.StatusText(), L"");
        run.RequestClose();
        EXPECT_EQ(run.WaitForExit(), 0u) << "closing the window ends the updater";
        EXPECT_TRUE(Starts(0, 0).empty());
    }
}

TEST_F(UpdaterEndToEnd, TheStartButtonUpdatesAndRestarts) {
    SetServerScenario(
        {Body(ManifestJson("2.0.0.0", "", false, GoodArchiveDigest())), Archive(1500)});
    UpdaterRun& run = Start();
    ASSERT_NE(run.WaitForVisibleWindow(), nullptr);
    run.Click(kStartButtonId, BN_SETFOCUS);
    Sleep(500);
    EXPECT_EQ(run.StatusText(), L"") << "a notification other than a click does nothing";
    run.Click(kStartButtonId);
    run.Click(kStartButtonId);
    ASSERT_TRUE(run.WaitForStatus(texts::kStatusDownloading));
    run.Click(kStartButtonId);
    ASSERT_TRUE(run.WaitForStatus(texts::kStatusInstalling));
    // While the installation runs, closing and the later button are ignored.
    run.RequestClose();
    run.Click(kLaterButtonId);
    EXPECT_EQ(run.WaitForExit(), 0u);
    ExpectUpdated();
    EXPECT_EQ(run.HighestProgressSeen(), 100);

    const auto& seen = run.StatusesSeen();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[seen.size() - 1], texts::kStatusInstalling);
    auto downloading = std::find(seen.begin(), seen.end(), texts::kStatusDownloading);
    ASSERT_NE(downloading, seen.end());
    for (auto it = downloading + 1; it + 1 != seen.end(); ++it) {
        EXPECT_NE(it->find(L"KB/s"), std::wstring::npos) << "progress lines in between";
    }
    EXPECT_EQ(ReceivedRequests().size(), 2u)
        << "one manifest, one download: later presses do nothing";
}

TEST_F(UpdaterEndToEnd, TheLaterButtonRestartsTheApplication) {
    for (const bool duringDownload : {false, true}) {
        SCOPED_TRACE(duringDownload ? "during the download" : "before the download");
        TearDown();
        SetUp();
        SetServerScenario({Body(ManifestJson("2.0.0.0")), Archive(20000)});
        ChildProcess app = StartProcess(L"\"" + folder() + L"\\ZEL\\zel_acc.exe\"", folder());
        CloseHandle(app.process);
        ASSERT_EQ(Starts(1).size(), 1u);
        UpdaterRun& run = Start();
        ASSERT_NE(run.WaitForVisibleWindow(), nullptr);
        if (duringDownload) {
            run.Click(kStartButtonId);
            ASSERT_TRUE(run.WaitForStatus(texts::kStatusDownloading));
        }
        run.Click(kLaterButtonId);
        EXPECT_EQ(run.WaitForExit(), 0u);
        const auto starts = Starts(2);
        ASSERT_EQ(starts.size(), 2u) << "the running copy closed, a new one started";
        ExpectStartedFromZel(starts[1], L"1.2.3.4");
        ExpectUntouched();
        EXPECT_FALSE(Exists(folder() + L"\\zel.zip"));
    }
}

TEST_F(UpdaterEndToEnd, ClosingTheWindowDuringTheDownloadEndsTheUpdater) {
    SetServerScenario({Body(ManifestJson("2.0.0.0")), Archive(20000)});
    UpdaterRun& run = Start();
    ASSERT_NE(run.WaitForVisibleWindow(), nullptr);
    run.Click(kStartButtonId);
    ASSERT_TRUE(run.WaitForStatus(texts::kStatusDownloading));
    run.RequestClose();
    EXPECT_EQ(run.WaitForExit(5000), 0u);
    ExpectUntouched();
    EXPECT_TRUE(Starts(0, 0).empty());
}

TEST_F(UpdaterEndToEnd, AMandatoryReleaseUpdatesWithoutAsking) {
    SetServerScenario({Body(ManifestJson("2.0.0.0", "", true)), Archive(2000)});
    UpdaterRun& run = Start();
    ASSERT_NE(run.WaitForVisibleWindow(), nullptr);
    // A second run meanwhile (a double click, another PC on the shared
    // folder) leaves the office to the first and starts the application.
    UpdaterRun second(BinFolder() + L"\\zel_updater_test.exe", folder());
    EXPECT_EQ(second.WaitForExit(10000), 0u);
    ExpectStartedFromZel(Starts(1).front(), L"1.2.3.4");
    const BoxSeen box = run.WaitForBox();
    EXPECT_EQ(box.text, texts::kMandatoryNotice);
    EXPECT_EQ(box.caption, texts::kMandatoryCaption);
    EXPECT_FALSE(IsWindowEnabled(run.window()));
    EXPECT_FALSE(IsWindowVisible(run.Control(kStartButtonId)));
    EXPECT_FALSE(IsWindowVisible(run.Control(kLaterButtonId)));
    // The status line moves on while the box is still open.
    ASSERT_TRUE(run.WaitForStatus(texts::kStatusDownloading));
    EXPECT_TRUE(IsWindow(box.window));
    run.RequestClose();
    Sleep(300);
    EXPECT_TRUE(run.Running()) << "close requests are ignored";
    EXPECT_EQ(run.WaitForExit(), 0u);
    ExpectUpdated(1);
    EXPECT_EQ(ReceivedRequests().size(), 2u) << "one check and one download in all";
}

TEST_F(UpdaterEndToEnd, AFailedDownloadLeavesTheWindowUsable) {
    ServerResponse missing = Body("gone");
    missing.status = 404;
    SetServerScenario({Body(ManifestJson("2.0.0.0")), missing});
    UpdaterRun& run = Start();
    ASSERT_NE(run.WaitForVisibleWindow(), nullptr);
    run.Click(kStartButtonId);
    ASSERT_TRUE(run.WaitForStatus(texts::kStatusDownloadFailed));
    EXPECT_TRUE(IsWindowVisible(run.Control(kStartButtonId)));
    run.Click(kStartButtonId);
    Sleep(500);
    EXPECT_EQ(run.StatusText(), texts::kStatusDownloadFailed) << "the start button is spent";
    EXPECT_EQ(ReceivedRequests().size(), 4u) << "one manifest, three attempts";
    run.Click(kLaterButtonId);
    EXPECT_EQ(run.WaitForExit(), 0u);
    ExpectStartedFromZel(Starts(1).back(), L"1.2.3.4");
    ExpectUntouched();
}

TEST_F(UpdaterEndToEnd, AFailedUnpackKeepsTheApplication) {
    SetServerScenario({Body(ManifestJson("2.0.0.0")), Archive(0, L"damaged.zip")});
    UpdaterRun& run = Start();
    ASSERT_NE(run.WaitForVisibleWindow(), nullptr);
    run.Click(kStartButtonId);
    const BoxSeen box = run.WaitForBox(30000);
    EXPECT_EQ(box.text, texts::kExtractError);
    EXPECT_EQ(box.caption, texts::kErrorCaptionPersian);
    UpdaterRun::Dismiss(box);
    ASSERT_TRUE(run.WaitForStatus(texts::kExtractError));
    ExpectUntouched();
    EXPECT_TRUE(Starts(0, 0).empty()) << "nothing is started after a failed unpack";
    run.Click(kLaterButtonId);
    EXPECT_EQ(run.WaitForExit(), 0u);
    ExpectStartedFromZel(Starts(1).back(), L"1.2.3.4");
}

TEST_F(UpdaterEndToEnd, AFailedMandatoryUpdateLetsTheWindowClose) {
    ServerResponse missing = Body("gone");
    missing.status = 404;
    struct Case {
        const char* name;
        bool zelInUse;
        ServerResponse archive;
        const wchar_t* status;
    } const cases[] = {
        {"download fails", false, missing, texts::kStatusDownloadFailed},
        {"ZEL in use", true, Archive(), texts::kInstallFolderInUse},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        if (c.zelInUse) {
            CloseHandle(StartZelHolder(folder(), 60000).process);
            CloseHandle(StartProcess(L"\"" + folder() + L"\\ZEL\\zel_acc.exe\"", folder()).process);
            ASSERT_EQ(Starts(1).size(), 1u);
        }
        SetServerScenario({Body(ManifestJson("2.0.0.0", "", true)), c.archive});
        UpdaterRun& run = Start();
        ASSERT_NE(run.WaitForVisibleWindow(), nullptr);
        const BoxSeen notice = run.WaitForBox();
        UpdaterRun::Dismiss(notice);
        while (IsWindow(notice.window)) {
            Sleep(10);
        }
        WindowText(run.window());  // answered once the box's end is handled
        EXPECT_FALSE(IsWindowEnabled(run.window())) << "still disabled after the notice";
        if (c.zelInUse) {
            const BoxSeen failure = run.WaitForBox(30000);
            EXPECT_EQ(failure.text, texts::kInstallFolderInUse);
            EXPECT_EQ(failure.caption, texts::kErrorCaptionPersian);
            UpdaterRun::Dismiss(failure);
        }
        ASSERT_TRUE(run.WaitForStatus(c.status));
        const ULONGLONG deadline = GetTickCount64() + 5000;
        while (!IsWindowEnabled(run.window()) && GetTickCount64() < deadline) {
            Sleep(10);
        }
        EXPECT_TRUE(IsWindowEnabled(run.window()));
        EXPECT_FALSE(IsWindowVisible(run.Control(kStartButtonId)));
        EXPECT_EQ(Starts(0, 0).size(), c.zelInUse ? 1u : 0u) << "closed for the installation";
        run.RequestClose();
        EXPECT_EQ(run.WaitForExit(), 0u);
        ExpectUntouched();
        EXPECT_FALSE(Exists(folder() + L"\\update"));
        if (c.zelInUse) {
            ExpectStartedFromZel(Starts(2).back(), L"1.2.3.4");
        }
    }
}

}  // namespace
