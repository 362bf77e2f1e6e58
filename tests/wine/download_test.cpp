// DownloadPackage against the real test server over real TLS, with the files
// and the log it leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <thread>

#include "common/unique_handle.h"
#include "download/download_package.h"
#include "support/test_server_control.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

unsigned long SpeedKbs(const std::wstring& text) {
    return std::stoul(text.substr(text.find(L": ") + 2));
}

class Download : public testing::Test, public DownloadSink {
  protected:
    void OnProgress(unsigned percent, std::wstring text) override {
        reports_.emplace_back(percent, std::move(text));
    }
    bool Run(const std::wstring& sha256, const std::wstring& file = L"zel.zip",
             const ArchiveBound& bound = {}) {
        reports_.clear();
        const ULONGLONG start = GetTickCount64();
        const bool result = DownloadPackage(L"https://elsewhere.example/releases/zel.zip?v=2",
                                            sha256, file, *this, bound);
        elapsedMs_ = GetTickCount64() - start;
        return result;
    }
    bool Run(const std::string& body) { return Run(Narrow2Wide(Sha256Hex(body))); }
    static std::wstring Archives() { return BinFolder() + L"\\archives\\"; }

    ScratchFolder scratch_;
    std::vector<std::pair<unsigned, std::wstring>> reports_;
    ULONGLONG elapsedMs_ = 0;
};

// Every way a download can go: a whole, verified file replaces zel.zip, or
// nothing does; a cut transfer continues where it stopped; an archive like the
// previous zel.zip is built from it and ranges of what changed, or else
// downloaded whole; every chunk is reported, the percentage never goes back
// and the speed is the current transfer's.
TEST_F(Download, KeepsOnlyAWholeVerifiedFileAndReportsEveryChunk) {
    const long long size = 3 * 1024 * 1024 + 17;
    const std::string a(100000, 'a'), b(100000, 'b'), earlier = "the earlier archive";
    const ServerResponse whole{.bodyPattern = 400000};
    const std::string fresh = ReadBytes(Archives() + L"delta-new.zip");
    const auto archive = [](const char* name) {
        return ServerResponse{.bodyFile = std::string("bin/archives/") + name};
    };
    const char* const end = R"(bytes=-\d+)";
    const char* const span = R"(bytes=\d+-\d+)";
    const std::string modified = R"("last_modified": "Mon, 07 Dec 2026 04:00:00 GMT")";
    const struct {
        const char* name;
        std::vector<ServerResponse> responses;
        std::string result;  // zel.zip afterwards: the download's, or the earlier one
        const char* logged;
        std::vector<std::string> ranges = {};  // asked for by each request, as patterns
        unsigned maxKbs = ~0u;                 // the last speed shown, at most
        std::wstring sha256 = L"";             // expected, when not the result's
        const wchar_t* file = L"zel.zip";
        bool corruptPart = false;        // a first download that fails leaves a damaged part
        const char* previous = nullptr;  // zel.zip before: an archive, "" none, or `earlier`
        bool differential = false;       // the bytes sent fit the changed entries' budget
        bool cutBefore = false;  // a first run gives up part-way through a differential download
        bool holdFile = false;   // zel.zip is held open until a move onto it failed
        size_t failedRequests = 3;
        unsigned progressAtMost = 100;  // the percentage reported, at most
        const char* ifRange = nullptr;  // the second request's If-Range
    } cases[] = {
        // clang-format off
        {"with a length", {{.bodyPattern = size}}, PatternBytes(size), "end=complete", {""}},
        {"an empty body", {{.bodyPattern = 0}}, "", "end=complete", {""}},
        {"resumed at 60 %, the rest at 1024 KB/s",  // counting the part as well shows ~2600
         {{.bodyPattern = 3000000, .dropAfter = 1800000},
          {.bodyPattern = 3000000, .rate = 1 << 20}},
         PatternBytes(3000000), "end=complete", {"", "bytes=1800000-"}, 1536},
        {"a drop at every 20 %", {{.bodyPattern = 2000000, .dropAfter = 400000}},
         PatternBytes(2000000), "end=cut received=400000 total=2000000",
         {"", "bytes=400000-", "bytes=800000-", "bytes=1200000-", "bytes=1600000-"}},
        {"the file changed", {{.body = a, .dropAfter = 50000}, {.body = b}}, b, "n=2 offset=0",
         {"", "bytes=50000-"}},
        {"a server that ignores ranges",
         {{.bodyPattern = 400000, .dropAfter = 200000},
          {.bodyPattern = 400000, .ignoreRange = true}},
         PatternBytes(400000), "end=complete", {"", "bytes=200000-"}},
        {"stalled past the receive time-out",
         {{.bodyPattern = 400000, .stallAfter = 200000, .stallMs = 6000}, whole},
         PatternBytes(400000), "end=timeout received=200000 total=400000", {"", "bytes=200000-"}},
        {"headers dripped past the deadline",
         {{.bodyPattern = 400000, .more = R"("drip": "headers", "drip_ms": 200)"}, whole},
         PatternBytes(400000), "failure=timeout", {"", ""}},
        {"a part damaged on disk", {whole}, PatternBytes(400000), "end=digest-mismatch expected=",
         {"bytes=200000-", ""}, ~0u, L"", L"zel.zip", true},
        // Three attempts in a row that add nothing end the download, each
        // after a pause, and zel.zip stays as it was.
        {"404", {{.status = 404}}, earlier, "end=http-error status=404"},
        {"wrong server key", {{.cert = "other-valid"}}, earlier, "end=http-error"},
        {"no folder for the file", {whole}, earlier, "end=write-error error=\"3 ", {}, ~0u, L"",
         L"none\\zel.zip"},
        {"no validator", {{.bodyPattern = 4000, .dropAfter = 2000, .validator = false}}, earlier,
         "end=cut"},
        {"digest does not match", {whole}, earlier, "digest-mismatch expected=aaaa", {}, ~0u,
         std::wstring(64, L'A')},
        // A refused range drops the part, and the whole file is asked for at once.
        {"412 to every range",
         {{.bodyPattern = 400000, .dropAfter = 200000},
          {.bodyPattern = 400000, .more = R"("range_status": 412)"}},
         PatternBytes(400000), "status=412 reason=range-refused", {"", "bytes=200000-", ""}},
        {"416 to a resumed request",
         {{.bodyPattern = 400000, .dropAfter = 200000, .validator = false, .more = modified},
          {.bodyPattern = 100000, .validator = false, .more = modified}, whole},
         PatternBytes(400000), "status=416 reason=range-refused", {"", "bytes=200000-", ""}},
        {"Last-Modified only",
         {{.bodyPattern = 400000, .dropAfter = 200000, .validator = false, .more = modified},
          {.bodyPattern = 400000, .validator = false, .more = modified}},
         PatternBytes(400000), "end=complete", {"", "bytes=200000-"}, ~0u, L"", L"zel.zip", false,
         nullptr, false, false, false, 3, 100, "If-Range: Mon, 07 Dec 2026 04:00:00 GMT"},
        // Antivirus scanning zel.zip: the next attempt moves the part, fetches nothing.
        {"zel.zip held during the move", {whole}, PatternBytes(400000),
         "end=write-error kept=400000", {""}, ~0u, L"", L"zel.zip", false, nullptr,
         false, false, true},
        {"a malformed digest", {whole}, earlier, "reason=malformed-sha256", {}, ~0u, L"abc",
         L"zel.zip", false, nullptr, false, false, false, 0},
        // The attempt ends at the failed write, not after reading the rest.
        {"a full disk", {{.bodyPattern = 8 << 20}}, earlier, "end=write-error error=", {},
         ~0u, L"", ZEL_SMALL_DISK L"\\zel.zip", false, nullptr, false, false, false, 3,
         50},
        {"a length above 4 GiB, read whole and refused",
         {{.bodyPattern = 1000, .validator = false, .declaredLength = 5000000000}}, earlier,
         "end=too-large status=200 length=5000000000"},
        // The previous zel.zip holds 37 of the 40 files.
        {"differential", {archive("delta-new.zip")}, fresh, "delta result=ok",
         {end, span, span, span}, ~0u, L"", L"zel.zip", false, "delta-old.zip", true},
        {"differential, cut and asked again from there",
         {archive("delta-new.zip"), {.bodyFile = "bin/archives/delta-new.zip", .dropAfter = 10000},
          archive("delta-new.zip")},
         fresh, "delta result=ok", {end, span, span, span, span}, ~0u, L"", L"zel.zip", false,
         "delta-old.zip", true},
        {"differential, continued in the next run from where a cut one stopped",
         {archive("delta-new.zip")}, fresh, "delta.plan offset=211731 ", {end, span, span, span},
         ~0u, L"", L"zel.zip", false, "delta-old.zip", true, true},
        {"differential, 200 files added: the directory takes a second request",
         {archive("delta-grown.zip")}, ReadBytes(Archives() + L"delta-grown.zip"),
         "delta result=ok", {end, span, span, span, span}, ~0u, L"", L"zel.zip", false,
         "delta-old.zip"},
        {"differential, no previous archive", {archive("delta-new.zip")}, fresh,
         "delta result=fallback reason=no-previous", {""}, ~0u, L"", L"zel.zip", false, ""},
        {"differential, a server that answers ranges with 200",
         {{.bodyFile = "bin/archives/delta-new.zip", .ignoreRange = true}}, fresh,
         "reason=no-range", {end, ""}, ~0u, L"", L"zel.zip", false, "delta-old.zip"},
        {"differential, the previous archive damaged", {archive("delta-new.zip")}, fresh,
         "reason=digest-mismatch", {end, span, span, span, ""}, ~0u, L"", L"zel.zip", false,
         "delta-old-damaged.zip"},
        {"differential, an archive by another tool", {archive("delta-other-tool.zip")},
         ReadBytes(Archives() + L"delta-other-tool.zip"), "decision=full", {end, ""}, ~0u, L"",
         L"zel.zip", false, "delta-old.zip"},
        {"differential, a directory entry past the end", {archive("delta-hostile.zip")},
         ReadBytes(Archives() + L"delta-hostile.zip"), "reason=not-understood", {end, ""}, ~0u,
         L"", L"zel.zip", false, "delta-old.zip"},
        // Reaching that directory would read the whole archive into memory.
        {"differential, a directory that ends before its end record", {archive("delta-gap.zip")},
         ReadBytes(Archives() + L"delta-gap.zip"), "reason=directory-gap", {end, ""}, ~0u,
         L"", L"zel.zip", false, "delta-old.zip"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.previous == nullptr) {
            WriteBytes(L"zel.zip", earlier);
        } else if (DeleteFileW(L"zel.zip"), *c.previous != '\0') {
            CopyFileW((Archives() + Narrow2Wide(c.previous)).c_str(), L"zel.zip", FALSE);
        }
        DeleteFileW(L"zel_updater.log");
        if (c.cutBefore) {
            SetServerScenario({c.responses[0],
                               {.bodyFile = "bin/archives/delta-new.zip", .dropAfter = 10000},
                               {.cert = "other-valid"}});
            ASSERT_FALSE(Run(c.result));
        }
        if (c.corruptPart) {
            SetServerScenario(
                {{.bodyPattern = 400000, .dropAfter = 200000}, {.cert = "other-valid"}});
            ASSERT_FALSE(Run(c.result));
            std::string part = ReadBytes(L"zel.zip.part");
            part.at(1000) ^= 0x5A;
            WriteBytes(L"zel.zip.part", part);
        }
        if (std::wstring(c.file).starts_with(ZEL_SMALL_DISK) &&
            !Exists(ZEL_SMALL_DISK L"\\mounted")) {
            continue;  // not mounted (not root), as small_disk.sh said
        }
        SetServerScenario(c.responses);
        const bool fails = c.ranges.empty();
        UniqueFileHandle held(c.holdFile ? CreateFileW(L"zel.zip", GENERIC_READ, 0, nullptr,
                                                       OPEN_EXISTING, 0, nullptr)
                                         : INVALID_HANDLE_VALUE);
        std::thread release([&] {  // once a move onto the held file failed
            WaitUntil([&] {
                return !held ||
                       ReadBytes(L"zel_updater.log").find("error kept=") != std::string::npos;
            });
            held.reset();
        });
        EXPECT_EQ(Run(c.sha256.empty() ? Narrow2Wide(Sha256Hex(c.result)) : c.sha256, c.file),
                  !fails);
        release.join();
        EXPECT_TRUE(ReadBytes(L"zel.zip") == c.result);
        EXPECT_FALSE(Exists(L"zel.zip.part") || Exists(L"zel.zip.part.resume"));
        const std::string log = ReadBytes(L"zel_updater.log");
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        const auto requests = ReceivedRequests();
        for (const auto& request : requests) {
            EXPECT_EQ(request.requestLine, "GET /releases/zel.zip?v=2 HTTP/1.1");
        }
        EXPECT_TRUE(
            std::ranges::all_of(reports_, [&](auto& r) { return r.first <= c.progressAtMost; }));
        EXPECT_TRUE(!c.ifRange || std::ranges::count(requests.at(1).headers, c.ifRange));
        if (fails) {
            const size_t n = c.failedRequests;
            EXPECT_EQ(requests.size(), n);
            EXPECT_GE(elapsedMs_ + 100, n * ZEL_DOWNLOAD_RETRY_PAUSE_MS) << "a pause after each";
            EXPECT_NE(log.find("result=failed attempts=" + std::to_string(n)), std::string::npos);
            continue;
        }
        ASSERT_EQ(requests.size(), c.ranges.size());
        long long sent = 0;
        for (size_t i = 0; i < requests.size(); ++i) {
            const auto& h = requests[i].headers;
            const auto range =
                std::ranges::find_if(h, [](auto& x) { return x.starts_with("Range: "); });
            EXPECT_TRUE(
                std::regex_match(range == h.end() ? "" : range->substr(7), std::regex(c.ranges[i])))
                << i << ": " << (range == h.end() ? "" : *range);
            sent += requests[i].sent;
        }
        const bool restarts = std::ranges::count(c.ranges, "") > 1;
        const size_t percentAtMost = c.ranges.size() > 2 && !c.previous && !restarts ? 105 : 200;
        EXPECT_LE(static_cast<size_t>(sent), c.result.size() * percentAtMost / 100);
        if (c.differential) {  // the changed entries and the directory, and 10 %
            EXPECT_LE(sent, std::stoll(ReadBytes(Archives() + L"delta-new.budget")) * 11 / 10)
                << log;
        }

        const auto& reports = reports_;
        const bool hasLength = c.responses.back().contentLength;
        // A later attempt that starts over shows the percentage from 0 again.
        const bool startsOver = std::regex_search(
            log, std::regex(R"(n=([2-9]|\d\d+) offset=0\b|delta result=fallback)"));
        EXPECT_GE(reports.size(), c.result.size() / 65536) << "every chunk";
        for (size_t i = 0; i < reports.size(); ++i) {
            const auto& [percent, text] = reports[i];
            EXPECT_EQ(text.substr(0, text.find(L'%')), std::to_wstring(percent));
            EXPECT_TRUE(startsOver || i == 0 || percent >= reports[i - 1].first) << "never back";
            EXPECT_TRUE(hasLength || (percent == 0 && text.ends_with(L": 0 ثانیه")));
        }
        if (!c.result.empty()) {
            const std::wstring& last = reports.back().second;
            EXPECT_EQ(reports.back().first, hasLength ? 100u : 0u);
            EXPECT_TRUE(last.ends_with(L": 0 ثانیه"));
            EXPECT_NE(SpeedKbs(last), 0u) << "a running speed";
            EXPECT_LT(SpeedKbs(last), c.maxKbs);
        }
    }
}

// The archive is held to its signed length, or without one to the build's
// maximum and to answers that say their length: whatever the server sends,
// the part never grows beyond the bound and a refused answer leaves nothing.
TEST_F(Download, HoldsTheArchiveToItsLength) {
    const long long size = 400000;
    const std::string chunked = R"("chunked": true)";
    const std::string fresh = ReadBytes(Archives() + L"delta-new.zip");
    const uint64_t n = size, freshSize = fresh.size();
    const struct {
        const char* name;
        ServerResponse response;
        ArchiveBound bound;
        const char* logged;  // ok when it says "end=complete"
        const char* previous = nullptr;
    } cases[] = {
        {"signed length, no Content-Length",
         {.bodyPattern = size, .contentLength = false},
         {n},
         "end=complete"},
        {"signed length, chunked", {.bodyPattern = size, .more = chunked}, {n}, "end=complete"},
        {"streaming past the signed length",
         {.bodyPattern = 10 * size, .contentLength = false},
         {n},
         "end=past-length"},
        {"chunked past the signed length",
         {.bodyPattern = 10 * size, .more = chunked},
         {n},
         "end=past-length"},
        {"a Content-Length other than the signed one",
         {.bodyPattern = size + 1},
         {n},
         "end=length-mismatch status=200 length=400001 chunked=no bound=400000"},
        {"no signed length, chunked",
         {.bodyPattern = size, .more = chunked},
         {},
         "end=no-length status=200 length=none chunked=yes bound=4294967296"},
        {"no signed length, no Content-Length",
         {.bodyPattern = size, .contentLength = false},
         {},
         "end=no-length"},
        {"no signed length, above the maximum",
         {.bodyPattern = size},
         {std::nullopt, n - 1},
         "end=too-large status=200 length=400000"},
        {"differential, a total other than the signed length",
         {.bodyFile = "bin/archives/delta-new.zip"},
         {freshSize + 1},
         "reason=length-mismatch",
         "delta-old.zip"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string earlier =
            c.previous ? ReadBytes(Archives() + Narrow2Wide(c.previous)) : "the earlier archive";
        WriteBytes(L"zel.zip", earlier);
        DeleteFileW(L"zel_updater.log");
        SetServerScenario({c.response});
        std::atomic<bool> done = false;
        uint64_t largest = 0;
        std::thread watch([&] {  // the part's length while the download runs
            while (!done) {
                WIN32_FILE_ATTRIBUTE_DATA data;
                if (GetFileAttributesExW(L"zel.zip.part", GetFileExInfoStandard, &data)) {
                    largest =
                        std::max(largest, (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
                }
                SwitchToThread();
            }
        });
        const bool ok = std::string(c.logged) == "end=complete";
        EXPECT_EQ(Run(Narrow2Wide(Sha256Hex(PatternBytes(size))), L"zel.zip", c.bound), ok);
        done = true;
        watch.join();
        EXPECT_LE(largest, c.bound.exact.value_or(c.bound.most));
        EXPECT_EQ(ReadBytes(L"zel.zip") == earlier, !ok);
        EXPECT_FALSE(Exists(L"zel.zip.part") || Exists(L"zel.zip.part.resume"));
        const std::string log = ReadBytes(L"zel_updater.log");
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    }
}

}  // namespace
