// The pinned HTTPS client and the update check against the real test server
// over real TLS.
#include <gtest/gtest.h>

#include <string_view>

#include "common/message_box.h"
#include "common/texts.h"
#include "support/test_server_control.h"
#include "support/test_support.h"
#include "update/update_check.h"

using namespace testing_support;

namespace {

// The boxes shown, as text, caption and style.
std::vector<std::wstring> g_boxes;
const std::wstring kErrorBox = L"\tخطا\t16";

int CaptureBox(HWND, const wchar_t* text, const wchar_t* caption, UINT style) {
    g_boxes.push_back(text + (L"\t" + (caption + (L"\t" + std::to_wstring(style)))));
    return IDOK;
}

const std::string kManifest =
    R"({"version": "9.0.0.0", "url": "https://x/zel.zip", "mandatory": true, )"
    R"("sha256": "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"})";

// The update check against every kind of answer: the installed version as
// the request carries it, and either the whole manifest from any certificate
// with the pinned key, or a failure whose cause the log names. No redirect is
// followed, not even to a host holding the pinned key; no half or oversized
// manifest is used. No TLS 1.3-only row: Wine 8 does not offer 1.3 (12157).
TEST(CheckForUpdate, UsesOnlyAWholeManifestFromThePinnedKey) {
    const auto notes = [](const std::string& text) {
        return R"({"version": "2.0.0.0", "notes": ")" + text + "\"}";
    };
    const std::string target = "127.0.0.1:" + std::to_string(ProxyPort(3)) + "/\"";
    const std::string to = R"("location": ")", big(100 * 1024, ' '), large(20000, 'x');
    const struct {
        ServerResponse response;
        const char* failure;                 // what the log gives as the cause, or none
        const wchar_t* installed = nullptr;  // the variant in ZEL, L"folder" for a folder
        const char* asked = "0.0.0.0";
        std::wstring notes = L"";
        bool box = false;  // the version cannot be read
    } cases[] = {
        // clang-format off
        {{.body = notes("a\\r\\nb")}, nullptr, L"v1.2.3.4", "1.2.3.4", L"a\\r\\nb"},
        {{.cert = "pinned-expired", .body = notes("")}, nullptr, L"v3.1.0+12", "3.1.0.12"},
        // The first translation's version, of several.
        {{.cert = "pinned-otherhost", .body = notes("")}, nullptr, L"cp04e4", "5.6.7.8"},
        {{.body = notes("t"), .more = R"("tls": "1.2")"}, nullptr, nullptr, "0.0.0.0", L"t"},
        {{.body = notes("\xd9\x86\xd8\xb3\xd8\xae\xd9\x87 \xd8\xac\xd8\xaf\xdb\x8c\xd8\xaf")},
         nullptr, L"folder", "0.0.0.0", L"نسخه جدید", true},
        {{.body = notes("a\xff\x62") + "\xc3"}, nullptr, L"empty", "0.0.0.0", L"a\uFFFDb", true},
        {{.body = "\xef\xbb\xbf" + notes("bom")}, nullptr, L"noversion", "0.0.0.0", L"bom", true},
        {{.body = notes(large)}, nullptr, nullptr, "0.0.0.0", std::wstring(20000, L'x')},
        {{.body = ""}, "reason=empty status=200"},
        {{.status = 404, .body = kManifest}, "reason=status status=404"},
        {{.status = 500, .body = kManifest}, "reason=status status=500"},
        {{.cert = "other-valid", .body = kManifest}, "key=mismatch presented=" ZEL_OTHER_KEY_PIN " "},
        {{.status = 302, .body = kManifest, .more = to + "/elsewhere\""}, "status=302"},
        {{.status = 302, .more = to + "https://" + target}, "status=302"},  // to the pinned key
        {{.cert = "other-valid", .status = 302, .more = to + "https://" + target}, "reason=key"},
        {{.status = 301, .more = to + "http://" + target}, "status=301"},
        {{.body = kManifest, .dropAfter = 80}, "reason=cut"},
        {{.body = kManifest, .stallAfter = 80, .stallMs = 300, .more = R"("reset_after": 90)"},
         "reason=cut"},
        {{.body = big}, "reason=too-large"},
        {{.body = big, .contentLength = false}, "reason=too-large"},
        // clang-format on
    };
    SetMessageBoxObserver(CaptureBox);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << (&c - cases));
        ScratchFolder scratch;
        if (c.installed != nullptr && std::wstring_view(c.installed) == L"folder") {
            MakeFolder(scratch / L"ZEL\\zel_acc.exe");
        } else if (c.installed != nullptr) {
            InstallApp(scratch.path(), c.installed);
        }
        SetServerScenario({c.response});
        g_boxes.clear();
        const size_t proxyLogSize = ProxyLog().size();
        const std::optional<UpdateCheck> check = CheckForUpdate();
        EXPECT_EQ(ProxyLog().substr(proxyLogSize), "") << "a redirect target was reached";
        EXPECT_EQ(g_boxes, c.box ? std::vector<std::wstring>{texts::kVersionReadError + kErrorBox}
                                 : std::vector<std::wstring>{});
        const auto requests = ReceivedRequests();
        ASSERT_EQ(requests.size(), 1u) << "the manifest is asked for once";
        EXPECT_EQ(requests[0].requestLine,
                  std::string("GET /api/sysboot/check/ZEL_ACC/") + c.asked + " HTTP/1.1");
        EXPECT_EQ(requests[0].bodyBytes, 0);
        const auto& headers = requests[0].headers;
        ASSERT_EQ(headers.size(), 3u) << "no header but the agent, the host and the connection";
        EXPECT_EQ(headers[0], "User-Agent: ZEL-Updater");
        EXPECT_TRUE(headers[1].starts_with("Host: ") && headers[2].starts_with("Connection: "));
        if (c.failure != nullptr) {
            const std::string log = ReadBytes(scratch / L"zel_updater.log");
            EXPECT_FALSE(check);
            EXPECT_NE(log.find(c.failure), std::string::npos) << log;
            continue;
        }
        ASSERT_TRUE(check);
        EXPECT_EQ(Wide2Narrow(check->installedVersion), c.asked);
        EXPECT_EQ(check->manifest.version, L"2.0.0.0");
        EXPECT_EQ(check->manifest.notes, c.notes);
    }
}

}  // namespace
