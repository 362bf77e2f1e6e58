// The pinned HTTPS client and the update check against the real test server
// over real TLS.
#include <gtest/gtest.h>

#include <tuple>

#include "common/texts.h"
#include "support/test_server_control.h"
#include "support/test_support.h"
#include "support/updater_driver.h"
#include "update/manifest_fetch.h"
#include "update/update_check.h"

using namespace testing_support;

namespace {

const std::string kManifest =
    R"({"version": "9.0.0.0", "url": "https://x/zel.zip", "mandatory": true, )"
    R"("sha256": "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"})";

// No TLS 1.3-only row: Wine 8 does not offer 1.3 and fails with 12157.
TEST(FetchManifest, TakesTheWholeBodyFromAnyCertificateWithThePinnedKey) {
    const std::string large(20000, 'x');
    const std::pair<ServerResponse, std::wstring> cases[] = {
        {{.body = "{}"}, L"{}"},
        {{.cert = "pinned-expired", .body = "{}"}, L"{}"},
        {{.cert = "pinned-otherhost", .body = "{}"}, L"{}"},
        {{.body = "{}", .more = R"("tls": "1.2")"}, L"{}"},
        {{.body = "\xd9\x86\xd8\xb3\xd8\xae\xd9\x87 \xd8\xac\xd8\xaf\xdb\x8c\xd8\xaf"},
         L"نسخه جدید"},
        {{.body = "a\xff\x62\xc3"}, L"a\uFFFDb\uFFFD"},
        {{.body = "\xef\xbb\xbf{}"}, L"\uFEFF{}"},
        {{.body = large}, std::wstring(large.begin(), large.end())},
    };
    for (const auto& [response, expected] : cases) {
        SCOPED_TRACE(response.more + " " + response.cert + " " + response.body.substr(0, 8));
        SetServerScenario({response});
        std::wstring text = L"left over";
        EXPECT_TRUE(FetchManifest(L"1.2.3.4", text));
        EXPECT_EQ(text, expected);
    }
}

// No redirect is followed, not even to a host holding the pinned key; no half
// or oversized manifest is used. The log names the cause.
TEST(CheckForUpdate, FailsWithoutAWholeManifestAndSaysWhy) {
    const std::string target = "127.0.0.1:" + std::to_string(ProxyPort(3)) + "/\"";
    const std::string to = R"("location": ")", big(100 * 1024, ' ');
    const std::tuple<const char*, ServerResponse, const char*> cases[] = {
        {"empty", {.body = ""}, "reason=empty status=200"},
        {"404", {.status = 404, .body = kManifest}, "reason=status status=404"},
        {"500", {.status = 500, .body = kManifest}, "reason=status status=500"},
        {"other key", {.cert = "other-valid", .body = kManifest}, "key=mismatch presented="},
        {"302 to a path",
         {.status = 302, .body = kManifest, .more = to + "/elsewhere\""},
         "status=302"},
        {"302 to a pinned host",
         {.status = 302, .body = "", .more = to + "https://" + target},
         "status=302"},
        {"302, other key",
         {.cert = "other-valid", .status = 302, .body = "", .more = to + "https://" + target},
         "reason=key"},
        {"301 to http", {.status = 301, .body = "", .more = to + "http://" + target}, "status=301"},
        {"cut at half", {.body = kManifest, .more = R"("drop_after": 80)"}, "reason=cut"},
        {"reset mid-body",
         {.body = kManifest, .more = R"("stall_after": 80, "stall_ms": 300, "reset_after": 90)"},
         "reason=cut"},
        {"100 KiB", {.body = big}, "reason=too-large"},
        {"100 KiB, no length",
         {.body = big, .more = R"("content_length": false)"},
         "reason=too-large"},
    };
    for (const auto& [name, response, logged] : cases) {
        SCOPED_TRACE(name);
        ScratchFolder scratch;
        SetServerScenario({response});
        const size_t proxyLogSize = ProxyLog().size();
        EXPECT_FALSE(CheckForUpdate());
        EXPECT_EQ(ReceivedRequests().size(), 1u) << "the manifest is asked for once";
        EXPECT_EQ(ProxyLog().substr(proxyLogSize), "") << "a redirect target was reached";
        const std::string log = ReadBytes(scratch / L"zel_updater.log");
        EXPECT_NE(log.find(logged), std::string::npos) << log;
    }
}
TEST(CheckForUpdate, AsksForTheInstalledVersionAndStoresTheManifest) {
    const std::tuple<const wchar_t*, const char*, const char*, bool> cases[] = {
        {L"v1.2.3.4", "1.2.3.4", "{}", false},
        {nullptr, "0.0.0.0", R"({"mandatory": "true"})", true},
        {L"v3.1.0+12", "3.1.0.12",
         R"({"version": "2.0.0.0", "url": "https://x/zel.zip", "notes": "a\r\nb", "mandatory": true})",
         true},
    };
    UpdateManifest last;
    for (const auto& [variant, version, body, mandatory] : cases) {
        SCOPED_TRACE(version);
        ScratchFolder scratch;
        if (variant != nullptr) {
            InstallApp(scratch.path(), variant);
        }
        SetServerScenario({{.body = body}});
        BoxCapture boxes;
        const std::optional<UpdateCheck> check = CheckForUpdate();
        ASSERT_TRUE(check);
        EXPECT_TRUE(boxes.boxes().empty());
        EXPECT_EQ(Wide2Narrow(check->installedVersion), version);
        EXPECT_EQ(check->manifest.mandatory, mandatory);
        last = check->manifest;
        const auto requests = ReceivedRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].requestLine,
                  std::string("GET /api/sysboot/check/ZEL_ACC/") + version + " HTTP/1.1");
        EXPECT_EQ(requests[0].bodyBytes, 0);
        bool sawAgent = false;
        for (const auto& header : requests[0].headers) {
            const std::string name = header.substr(0, header.find(':'));
            EXPECT_TRUE(name == "Host" || name == "User-Agent" || name == "Connection")
                << "unexpected header " << header;
            sawAgent |= header == "User-Agent: ZEL-Updater";
        }
        EXPECT_TRUE(sawAgent);
    }
    EXPECT_EQ(last.version, L"2.0.0.0");
    EXPECT_EQ(last.notes, L"a\\r\\nb");
}

// The real updater built with a 4 s manifest deadline (the product's is 30 s,
// same code), against servers too slow to finish: one updater for each answer,
// all at once, as the server gives each connection the next answer.
TEST(SlowServer, EndsInTheServerErrorBoxByTheDeadline) {
    SetServerScenario({{.body = kManifest, .more = R"("silent": true, "silent_ms": 15000)"},
                       {.body = kManifest, .more = R"("drip": "headers", "drip_ms": 5000)"},
                       {.body = kManifest, .more = R"("drip": "body", "drip_ms": 5000)"}});
    ScratchFolder scratch;
    for (const wchar_t* office : {L"0", L"1", L"2"}) {
        MakeFolder(scratch / office);
    }
    const std::wstring program = BinFolder() + L"\\zel_updater_impatient.exe";
    UpdaterRun runs[] = {
        {program, scratch / L"0"}, {program, scratch / L"1"}, {program, scratch / L"2"}};
    for (int i = 0; i < 3; ++i) {
        const BoxSeen box = runs[i].WaitForBox(12000);  // well before the server would end
        EXPECT_EQ(box.text, texts::kServerError);
        UpdaterRun::Dismiss(box);
        const std::string log = ReadBytes(scratch / (std::to_wstring(i) + L"\\zel_updater.log"));
        EXPECT_NE(log.find("check result=failed reason=timeout"), std::string::npos) << log;
    }
}

}  // namespace
