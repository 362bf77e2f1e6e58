// DownloadPackage against the real test server over real TLS, reporting to a
// real window.
#include <gtest/gtest.h>

#include "app/app_messages.h"
#include "download/download_package.h"
#include "support/test_server_control.h"
#include "support/test_support.h"
#include "update/update_info.h"

using namespace testing_support;

namespace {

struct Progress {
    unsigned percent;
    std::wstring text;
};
std::vector<Progress> g_progress;

LRESULT CALLBACK CollectProgress(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP_PROGRESS) {
        std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
        g_progress.push_back({static_cast<unsigned>(wParam), *text});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class Download : public testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = CollectProgress;
        windowClass.lpszClassName = L"ZelDownloadTest";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, L"ZelDownloadTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
        g_progress.clear();
        UpdateInfo = {};
    }
    void TearDown() override { DestroyWindow(window_); }

    // Runs the download and then delivers what it posted.
    bool Run(const std::wstring& file = L"zel.zip") {
        const ULONGLONG start = GetTickCount64();
        const bool result =
            DownloadPackage(L"https://elsewhere.example/releases/zel.zip?v=2", file, window_);
        elapsedMs_ = GetTickCount64() - start;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        return result;
    }

    ScratchFolder scratch_;
    HWND window_ = nullptr;
    ULONGLONG elapsedMs_ = 0;
};

TEST_F(Download, RequestsThePathOfTheUrlFromTheUpdateServer) {
    ServerResponse response;
    response.body = "zip";
    SetServerScenario({response});
    ASSERT_TRUE(Run());
    const auto requests = ReceivedRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /releases/zel.zip?v=2 HTTP/1.1");
    EXPECT_EQ(ReadBytes(L"zel.zip"), "zip");
}

TEST_F(Download, AnEmptyBodyGivesAnEmptyFileAndNoProgress) {
    SetServerScenario({ServerResponse{}});
    ASSERT_TRUE(Run());
    EXPECT_TRUE(Exists(L"zel.zip"));
    EXPECT_EQ(ReadBytes(L"zel.zip"), "");
    EXPECT_TRUE(g_progress.empty());
}

TEST_F(Download, ReportsEveryChunkAndVerifiesTheDigest) {
    const std::string body = PatternBytes(3 * 1024 * 1024 + 17);
    for (const bool withLength : {true, false}) {
        SCOPED_TRACE(withLength ? "with a length" : "without a length");
        g_progress.clear();
        ServerResponse response;
        response.bodyPattern = static_cast<long long>(body.size());
        response.contentLength = withLength;
        SetServerScenario({response});
        UpdateInfo.manifest.sha256 = Narrow2Wide(Sha256Hex(body));
        ASSERT_TRUE(Run());
        EXPECT_TRUE(ReadBytes(L"zel.zip") == body);
        EXPECT_FALSE(Exists(L"zel.zip.part"));
        ASSERT_GT(g_progress.size(), 10u);
        for (const auto& p : g_progress) {
            EXPECT_EQ(p.text.substr(0, p.text.find(L'%')), std::to_wstring(p.percent));
            if (!withLength) {
                EXPECT_EQ(p.percent, 0u);
                EXPECT_EQ(p.text.substr(p.text.rfind(L": ")), L": 0 ثانیه");
            }
        }
        const std::wstring& last = g_progress.back().text;
        EXPECT_EQ(g_progress.back().percent, withLength ? 100u : 0u);
        EXPECT_EQ(last.substr(last.rfind(L": ")), L": 0 ثانیه");
        EXPECT_EQ(last.find(L"دانلود: 0 KB/s"), std::wstring::npos) << "a running speed";
    }
}

TEST_F(Download, RetriesThreeTimesWithoutTouchingTheFile) {
    struct Case {
        const char* name;
        ServerResponse response;
        const wchar_t* file;
        bool wrongDigest;
    };
    ServerResponse notFound;
    notFound.status = 404;
    notFound.body = "missing";
    ServerResponse otherKey;
    otherKey.cert = "other-valid";
    otherKey.body = "intruder";
    ServerResponse good;
    good.bodyPattern = 400000;
    ServerResponse dropped = good;
    dropped.dropAfter = 200000;
    const Case cases[] = {
        {"404", notFound, L"zel.zip", false},
        {"wrong server key", otherKey, L"zel.zip", false},
        {"file cannot be created", good, L"no-such-folder\\zel.zip", false},
        {"dropped half-way", dropped, L"zel.zip", false},
        {"digest does not match", good, L"zel.zip", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(L"zel.zip", "the earlier archive");
        SetServerScenario({c.response});
        UpdateInfo.manifest.sha256 = c.wrongDigest ? std::wstring(64, L'A') : L"";
        EXPECT_FALSE(Run(c.file));
        EXPECT_EQ(ReceivedRequests().size(), 3u);
        EXPECT_GE(elapsedMs_, 2900u) << "three pauses of a second";
        EXPECT_EQ(ReadBytes(L"zel.zip"), "the earlier archive");
        EXPECT_FALSE(Exists(L"zel.zip.part"));
    }
}

TEST_F(Download, ACutOffTransferIsRetried) {
    ServerResponse good;
    good.bodyPattern = 400000;
    ServerResponse dropped = good;
    dropped.dropAfter = 200000;
    ServerResponse stalled = good;
    stalled.stallAfter = 200000;
    stalled.stallMs = 36000;
    for (const auto& first : {dropped, stalled}) {
        SCOPED_TRACE(first.stallMs ? "stalled past the receive time-out" : "dropped");
        SetServerScenario({first, good});
        ASSERT_TRUE(Run());
        EXPECT_EQ(ReceivedRequests().size(), 2u);
        EXPECT_TRUE(ReadBytes(L"zel.zip") == PatternBytes(400000));
    }
}

TEST_F(Download, ATextTheWindowCannotTakeIsFreedBySender) {
    DestroyWindow(window_);
    PostProgress(window_, 5, L"lost");
    SUCCEED() << "posting to a destroyed window neither crashes nor leaks";
}

}  // namespace
