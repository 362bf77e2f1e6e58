// The pinned HTTPS client and the update check against the real test server
// over real TLS.
#include <gtest/gtest.h>

#include "support/test_server_control.h"
#include "support/test_support.h"
#include "update/manifest_fetch.h"
#include "update/update_check.h"
#include "update/update_info.h"

using namespace testing_support;

namespace {

ServerResponse Answer(const std::string& body, int status = 200,
                      const std::string& cert = "pinned-valid") {
    ServerResponse response;
    response.body = body;
    response.status = status;
    response.cert = cert;
    return response;
}

TEST(FetchManifest, AcceptsAnyCertificateWithThePinnedKeyOnly) {
    const std::pair<const char*, bool> cases[] = {
        {"pinned-valid", true},
        {"pinned-expired", true},
        {"pinned-otherhost", true},
        {"other-valid", false},
    };
    for (const auto& [cert, accepted] : cases) {
        SCOPED_TRACE(cert);
        SetServerScenario({Answer(R"({"version": "9.0.0.0"})", 200, cert)});
        std::wstring text = L"left over";
        EXPECT_EQ(FetchManifest(L"1.2.3.4", text), accepted);
        EXPECT_EQ(text, accepted ? L"{\"version\": \"9.0.0.0\"}" : L"");
    }
}

TEST(FetchManifest, DecodesTheBodyAsUtf8) {
    const std::string large(20000, 'x');
    const std::pair<std::string, std::wstring> cases[] = {
        {"\xd9\x86\xd8\xb3\xd8\xae\xd9\x87 \xd8\xac\xd8\xaf\xdb\x8c\xd8\xaf", L"نسخه جدید"},
        {"a\xff"
         "b\xc3",
         L"a\uFFFDb\uFFFD"},
        {"\xef\xbb\xbf{}", L"\uFEFF{}"},
        {large, std::wstring(large.begin(), large.end())},
    };
    for (const auto& [body, expected] : cases) {
        SCOPED_TRACE(body.size());
        SetServerScenario({Answer(body)});
        std::wstring text;
        EXPECT_TRUE(FetchManifest(L"1.2.3.4", text));
        EXPECT_EQ(text, expected);
    }
}

TEST(CheckForUpdate, FailsWithoutAManifestAndLeavesItEmpty) {
    const ServerResponse cases[] = {
        Answer("", 200),
        Answer(R"({"version": "9.0.0.0", "mandatory": true})", 404),
        Answer(R"({"version": "9.0.0.0", "mandatory": true})", 500),
        Answer(R"({"version": "9.0.0.0", "mandatory": true})", 200, "other-valid"),
    };
    for (const auto& response : cases) {
        SCOPED_TRACE(response.status);
        ScratchFolder scratch;
        InstallApp(scratch.path(), L"v1.2.3.4");
        SetServerScenario({response});
        UpdateInfo = {};
        EXPECT_FALSE(CheckForUpdate());
        EXPECT_TRUE(UpdateInfo.manifest.version.empty());
        EXPECT_FALSE(UpdateInfo.manifest.mandatory);
        EXPECT_FALSE(UpdateInfo.mandatoryMode);
        EXPECT_EQ(ReceivedRequests().size(), 1u) << "the manifest is asked for once";
    }
}

TEST(CheckForUpdate, StoresTheManifest) {
    const std::pair<const char*, bool> cases[] = {
        {"{}", false},
        {R"({"mandatory": "true"})", true},
        {R"({"version": "2.0.0.0", "url": "https://x/zel.zip", "notes": "a\r\nb", "mandatory": true})",
         true},
    };
    for (const auto& [body, mandatory] : cases) {
        SCOPED_TRACE(body);
        ScratchFolder scratch;
        InstallApp(scratch.path(), L"v1.2.3.4");
        SetServerScenario({Answer(body)});
        UpdateInfo = {};
        ASSERT_TRUE(CheckForUpdate());
        EXPECT_EQ(UpdateInfo.mandatoryMode, mandatory);
        EXPECT_EQ(UpdateInfo.manifest.mandatory, mandatory);
        EXPECT_FALSE(UpdateInfo.updateAvailable);
        if (std::string(body) == "{}") {
            EXPECT_TRUE(UpdateInfo.manifest.version.empty() && UpdateInfo.manifest.url.empty() &&
                        UpdateInfo.manifest.notes.empty() && UpdateInfo.manifest.sha256.empty());
        }
    }
    EXPECT_EQ(UpdateInfo.manifest.version, L"2.0.0.0");
    EXPECT_EQ(UpdateInfo.manifest.notes, L"a\\r\\nb");
}

TEST(CheckForUpdate, AsksForTheInstalledVersionAndNothingElse) {
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"v1.2.3.4", "1.2.3.4"},
        {nullptr, "0.0.0.0"},
        {L"v3.1.0+12", "3.1.0.12"},
    };
    for (const auto& [variant, version] : cases) {
        SCOPED_TRACE(version);
        ScratchFolder scratch;
        if (variant != nullptr) {
            InstallApp(scratch.path(), variant);
        }
        SetServerScenario({Answer("{}")});
        UpdateInfo = {};
        BoxCapture boxes;
        ASSERT_TRUE(CheckForUpdate());
        EXPECT_TRUE(boxes.boxes().empty());
        EXPECT_EQ(Wide2Narrow(UpdateInfo.installedVersion), version);
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
}

}  // namespace
