// DownloadPackage against the real test server over real TLS, with the files
// and the log it leaves behind.
#include <gtest/gtest.h>

#include "download/download_package.h"
#include "support/test_server_control.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

struct CollectedProgress final : DownloadSink {
    void OnProgress(unsigned percent, std::wstring text) override {
        reports.emplace_back(percent, std::move(text));
    }
    std::vector<std::pair<unsigned, std::wstring>> reports;
};

std::string RangeAsked(const ReceivedRequest& request) {
    for (const auto& header : request.headers) {
        if (header.rfind("Range: ", 0) == 0) {
            return header.substr(7);
        }
    }
    return "";
}

testing::AssertionResult Logged(const std::string& text) {
    const std::string log = ReadBytes(L"zel_updater.log");
    if (log.find(text) != std::string::npos) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "no " << text << " in the log:\n" << log;
}

unsigned long SpeedKbs(const std::wstring& text) {
    return std::stoul(text.substr(text.find(L": ") + 2));
}

class Download : public testing::Test {
  protected:
    bool Run(const std::wstring& sha256, const std::wstring& file = L"zel.zip") {
        progress_.reports.clear();
        const ULONGLONG start = GetTickCount64();
        const bool result = DownloadPackage(L"https://elsewhere.example/releases/zel.zip?v=2",
                                            sha256, file, progress_);
        elapsedMs_ = GetTickCount64() - start;
        return result;
    }
    bool Run(const std::string& body) { return Run(Narrow2Wide(Sha256Hex(body))); }

    ScratchFolder scratch_;
    CollectedProgress progress_;
    ULONGLONG elapsedMs_ = 0;
};

TEST_F(Download, ReportsEveryChunkOfTheWholeFile) {
    const long long size = 3 * 1024 * 1024 + 17;
    const struct {
        const char* name;
        std::vector<ServerResponse> responses;
        long long size;
    } cases[] = {
        {"with a length", {{.bodyPattern = size}}, size},
        {"without a length", {{.bodyPattern = size, .contentLength = false}}, size},
        {"an empty body", {{.bodyPattern = 0}}, 0},
        {"resumed at 60 %, the rest at 1024 KB/s",
         {{.bodyPattern = 3000000, .dropAfter = 1800000},
          {.bodyPattern = 3000000, .rate = 1024 * 1024}},
         3000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetServerScenario(c.responses);
        ASSERT_TRUE(Run(PatternBytes(c.size)));
        EXPECT_TRUE(ReadBytes(L"zel.zip") == PatternBytes(c.size));
        EXPECT_EQ(ReceivedRequests().at(0).requestLine, "GET /releases/zel.zip?v=2 HTTP/1.1");
        const auto& reports = progress_.reports;
        ASSERT_EQ(reports.size() > 10, c.size > 0) << "every chunk";
        for (size_t i = 0; i < reports.size(); ++i) {
            const auto& [percent, text] = reports[i];
            EXPECT_EQ(text.substr(0, text.find(L'%')), std::to_wstring(percent));
            EXPECT_GE(percent, i > 0 ? reports[i - 1].first : 0u) << "never back";
            EXPECT_TRUE(c.responses[0].contentLength ||
                        (percent == 0 && text.ends_with(L": 0 ثانیه")));
        }
        if (c.size > 0) {
            const std::wstring& last = reports.back().second;
            EXPECT_EQ(reports.back().first, c.responses[0].contentLength ? 100u : 0u);
            EXPECT_TRUE(last.ends_with(L": 0 ثانیه"));
            EXPECT_NE(SpeedKbs(last), 0u) << "a running speed";
            // Counting the part's bytes as well would show about 2600.
            EXPECT_LT(SpeedKbs(last), c.responses.size() > 1 ? 1536u : ~0u);
        }
    }
}

TEST_F(Download, ACutTransferContinuesWhereItStopped) {
    const std::string a(100000, 'a'), b(100000, 'b');
    const struct {
        const char* name;
        std::vector<ServerResponse> responses;
        std::string result;
        std::vector<std::string> ranges;  // asked for by each request
        const char* logged;
        bool corruptPart = false;  // a first download that fails leaves a damaged part
    } cases[] = {
        {"a drop at every 20 %",
         {{.bodyPattern = 2000000, .dropAfter = 400000}},
         PatternBytes(2000000),
         {"", "bytes=400000-", "bytes=800000-", "bytes=1200000-", "bytes=1600000-"},
         "end=cut received=400000 total=2000000"},
        {"the file changed",
         {{.body = a, .dropAfter = 50000}, {.body = b}},
         b,
         {"", "bytes=50000-"},
         "n=2 offset=0"},
        {"a server that ignores ranges",
         {{.bodyPattern = 400000, .dropAfter = 200000},
          {.bodyPattern = 400000, .ignoreRange = true}},
         PatternBytes(400000),
         {"", "bytes=200000-"},
         "end=complete"},
        {"stalled past the receive time-out",
         {{.bodyPattern = 400000, .stallAfter = 200000, .stallMs = 6000}, {.bodyPattern = 400000}},
         PatternBytes(400000),
         {"", "bytes=200000-"},
         "end=timeout received=200000 total=400000"},
        {"headers dripped past the deadline",
         {{.bodyPattern = 400000, .more = R"("drip": "headers", "drip_ms": 200)"},
          {.bodyPattern = 400000}},
         PatternBytes(400000),
         {"", ""},
         "failure=timeout"},
        {"a part damaged on disk",
         {{.bodyPattern = 400000, .dropAfter = 200000}, {.status = 404}},
         PatternBytes(400000),
         {"bytes=200000-", ""},
         "end=digest-mismatch expected=",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetServerScenario(c.responses);
        if (c.corruptPart) {
            ASSERT_FALSE(Run(c.result));
            std::string part = ReadBytes(L"zel.zip.part");
            part.at(1000) ^= 0x5A;
            WriteBytes(L"zel.zip.part", part);
            SetServerScenario({{.bodyPattern = 400000}});
        }
        ASSERT_TRUE(Run(c.result));
        EXPECT_TRUE(ReadBytes(L"zel.zip") == c.result);
        EXPECT_FALSE(Exists(L"zel.zip.part") || Exists(L"zel.zip.part.resume"));
        const auto requests = ReceivedRequests();
        ASSERT_EQ(requests.size(), c.ranges.size());
        long long sent = 0;
        for (size_t i = 0; i < requests.size(); ++i) {
            EXPECT_EQ(RangeAsked(requests[i]), c.ranges[i]);
            sent += requests[i].sent;
        }
        const size_t percentAtMost = c.ranges.size() > 2 ? 105 : 200;
        EXPECT_LE(static_cast<size_t>(sent), c.result.size() * percentAtMost / 100);
        EXPECT_TRUE(Logged(c.logged));
    }
}

TEST_F(Download, FailsAfterThreeAttemptsThatAddNothing) {
    const ServerResponse whole{.bodyPattern = 400000};
    const struct {
        const char* name;
        ServerResponse response;
        const char* logged;
        std::wstring sha256 = L"";
        const wchar_t* file = L"zel.zip";
    } cases[] = {
        {"404", {.status = 404}, "end=http-error status=404"},
        {"wrong server key", {.cert = "other-valid"}, "end=http-error"},
        {"no folder for the file", whole, "end=write-error error=\"3 ", L"", L"none\\zel.zip"},
        {"no validator", {.bodyPattern = 4000, .dropAfter = 2000, .validator = false}, "end=cut"},
        {"digest does not match", whole, "digest-mismatch expected=aaaa", std::wstring(64, L'A')},
        {"a length above 4 GiB",
         {.bodyPattern = 1000, .validator = false, .declaredLength = 5000000000},
         "end=cut received=1000 total=5000000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(L"zel.zip", "the earlier archive");
        DeleteFileW(L"zel_updater.log");
        SetServerScenario({c.response});
        EXPECT_FALSE(Run(c.sha256, c.file));
        EXPECT_EQ(ReceivedRequests().size(), 3u);
        EXPECT_GE(elapsedMs_, 3u * ZEL_DOWNLOAD_RETRY_PAUSE_MS - 100) << "a pause after each";
        EXPECT_EQ(ReadBytes(L"zel.zip"), "the earlier archive");
        EXPECT_FALSE(Exists(L"zel.zip.part"));
        EXPECT_TRUE(Logged(c.logged));
        EXPECT_TRUE(Logged("download result=failed attempts=3"));
    }
}

}  // namespace
