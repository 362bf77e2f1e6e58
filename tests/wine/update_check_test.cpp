// The pinned HTTPS client and the update check against the real test server
// over real TLS.
#include <gtest/gtest.h>

#include <string_view>
#include <tuple>

#include "common/texts.h"
#include "support/test_server_control.h"
#include "support/test_support.h"
#include "support/updater_driver.h"
#include "update/update_check.h"

using namespace testing_support;

namespace {

const std::string kManifest =
    R"({"version": "9.0.0.0", "url": "https://x/zel.zip", "mandatory": true, )"
    R"("sha256": "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"})";

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
// The installed version as the request carries it, and the whole manifest
// read from any certificate with the pinned key. No TLS 1.3-only row: Wine 8
// does not offer 1.3 and fails with 12157.
TEST(CheckForUpdate, AsksForTheInstalledVersionAndReadsTheWholeManifest) {
    const auto notes = [](const std::string& text) {
        return R"({"version": "2.0.0.0", "notes": ")" + text + "\"}";
    };
    const std::string large(20000, 'x');
    const struct {
        const wchar_t* installed;  // the variant in ZEL, L"folder" for a folder, or none
        ServerResponse response;
        const char* asked;
        std::wstring notes;
        bool box = false;  // the version cannot be read
    } cases[] = {
        {L"v1.2.3.4", {.body = notes("a\\r\\nb")}, "1.2.3.4", L"a\\r\\nb"},
        {L"v3.1.0+12", {.cert = "pinned-expired", .body = notes("")}, "3.1.0.12", L""},
        {L"cp04e4", {.cert = "pinned-otherhost", .body = notes("")}, "5.6.7.8", L""},  // 1st translation
        {nullptr, {.body = notes("t"), .more = R"("tls": "1.2")"}, "0.0.0.0", L"t"},
        {L"folder",
         {.body = notes("\xd9\x86\xd8\xb3\xd8\xae\xd9\x87 \xd8\xac\xd8\xaf\xdb\x8c\xd8\xaf")},
         "0.0.0.0", L"نسخه جدید", true},
        {L"empty", {.body = notes("a\xff\x62") + "\xc3"}, "0.0.0.0", L"a\uFFFDb", true},
        {L"noversion", {.body = "\xef\xbb\xbf" + notes("bom")}, "0.0.0.0", L"bom", true},
        {L"v1.2.3.4", {.body = notes(large)}, "1.2.3.4", std::wstring(large.begin(), large.end())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked + (" " + c.response.cert + " " + c.response.more));
        ScratchFolder scratch;
        if (c.installed == std::wstring_view(L"folder")) {
            MakeFolder(scratch / L"ZEL\\zel_acc.exe");
        } else if (c.installed != nullptr) {
            InstallApp(scratch.path(), c.installed);
        }
        SetServerScenario({c.response});
        BoxCapture boxes;
        const std::optional<UpdateCheck> check = CheckForUpdate();
        ASSERT_TRUE(check);
        EXPECT_EQ(Wide2Narrow(check->installedVersion), c.asked);
        EXPECT_EQ(check->manifest.version, L"2.0.0.0");
        EXPECT_EQ(check->manifest.notes, c.notes);
        ASSERT_EQ(boxes.boxes().size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(boxes.boxes()[0].text, texts::kVersionReadError);
            EXPECT_EQ(boxes.boxes()[0].caption, texts::kErrorCaptionPersian);
            EXPECT_EQ(boxes.boxes()[0].style, static_cast<UINT>(MB_ICONERROR));
        }
        const auto requests = ReceivedRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].requestLine,
                  std::string("GET /api/sysboot/check/ZEL_ACC/") + c.asked + " HTTP/1.1");
        EXPECT_EQ(requests[0].bodyBytes, 0);
        std::string names;
        for (const auto& header : requests[0].headers) {
            names += header.substr(0, header.find(':')) + " ";
        }
        EXPECT_EQ(names, "User-Agent Host Connection ") << "no other header";
        EXPECT_EQ(requests[0].headers.at(0), "User-Agent: ZEL-Updater");
    }
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
