#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "update/manifest_reader.h"
#include "update/release_statement.h"

namespace {

TEST(ExtractJsonValue, FindsTheFirstQuotedKeyAndItsFirstValueStarter) {
    // The text, the key and the value found.
    const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
        {LR"({"version": 2})", L"version", L""},
        {LR"({"version": null})", L"version", L""},
        {LR"({"notes": "a\"b"})", L"notes", L"a\\"},
        {LR"({"notes": "line\r\nnext\n"})", L"notes", L"line\\r\\nnext\\n"},
        {LR"({"name": "version", "size": 5, "version": "3.0.0.0"})", L"version", L""},
        {LR"({"version": "1.0.0.0", "version": "2.0.0.0"})", L"version", L"1.0.0.0"},
        {LR"({ "version" : "1.0.0.0" })", L"version", L"1.0.0.0"},
        {LR"({"urls": "a", "url": "b"})", L"url", L"b"},
        {LR"({"version": "unterminated)", L"version", L"unterminated"},
        {LR"({"version")", L"version", L""},
        {LR"({"flag": true})", L"flag", L"true"},
        {LR"({"flag": false})", L"flag", L"false"},
        {LR"({"outer": {"version": "4.0"}})", L"version", L"4.0"},
        {L"not json at all", L"version", L""},
    };
    for (const auto& [text, key, value] : cases) {
        EXPECT_EQ(ExtractJsonValue(text, key), value) << testing::PrintToString(text);
    }
}

TEST(ParseManifest, FillsTheEightFieldsFromTheirKeysInAnyOrder) {
    const auto fields = [](const UpdateManifest& m) {
        return std::vector{m.version,
                           m.url,
                           m.sha256,
                           m.notes,
                           m.releaseDate,
                           m.uploadDate,
                           std::wstring(m.mandatory ? L"mandatory" : L""),
                           m.signature};
    };
    EXPECT_EQ(fields(ParseManifest(
                  LR"({"uploadDate": "2026-01-03", "version": "2.1.0.0", "sha256": "ab",)"
                  LR"( "notes": "n", "releaseDate": "2026-01-02", "url": "https://h/zel.zip?x=1",)"
                  LR"( "signature": "3045", "mandatory": false})")),
              (std::vector<std::wstring>{L"2.1.0.0", L"https://h/zel.zip?x=1", L"ab", L"n",
                                         L"2026-01-02", L"2026-01-03", L"", L"3045"}));
    EXPECT_EQ(fields(ParseManifest(LR"({"version": "2.1.0.0", "notes": "n", "mandatory": true})")),
              (std::vector<std::wstring>{L"2.1.0.0", L"", L"", L"n", L"", L"", L"mandatory", L""}));
    EXPECT_EQ(fields(ParseManifest(L"")), std::vector<std::wstring>(8));
}

TEST(ReleaseStatement, OneLineAFieldNotesLastAndNothingThatReadsTwoWays) {
    const std::wstring digest(64, L'A');
    const ReleaseFields good{L"2.0.0.0", L"/r/zel.zip?a=1", digest, true, L"a\r\nversion=9"};
    const std::pair<ReleaseFields, const wchar_t*> cases[] = {
        {good,
         L"ZEL release 1\nproduct=ZEL_ACC\nversion=2.0.0.0\nurl_path=/r/zel.zip?a=1\n"
         L"sha256=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n"
         L"mandatory=true\nnotes=a\r\nversion=9"},
        {{L"2\n", L"/", digest, false, L""}, nullptr},
        {{L"2", L"/\r", digest, false, L""}, nullptr},
        {{L"2", L"/", L"", false, L""}, nullptr},
        {{L"2", L"/", std::wstring(63, L'a'), false, L""}, nullptr},
        {{L"2", L"/", std::wstring(63, L'a') + L"g", false, L""}, nullptr},
    };
    for (const auto& [fields, statement] : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&fields - &cases[0].first));
        const auto made = ReleaseStatement(fields);
        EXPECT_EQ(made.value_or(L"none"), statement ? statement : L"none");
    }
}

TEST(DerSignatureToRaw, TakesStrictDerOfTwoPositiveIntegersOfAtMost32Bytes) {
    const std::wstring r32 = std::wstring(62, L'1') + L"ff";
    const auto der = [](const std::wstring& body) { return *ParseHexBytes(body); };
    // The DER in hex, and r then s in hex, or nothing.
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"3026022100ff" + std::wstring(62, L'1') + L"020105",
         L"ff" + std::wstring(62, L'1') + std::wstring(62, L'0') + L"05"},
        {L"30250220" + r32 + L"020105", r32 + std::wstring(62, L'0') + L"05"},
        {L"30240220" + r32 + L"020105", L""},                         // a length that lies
        {L"3025022080" + std::wstring(62, L'1') + L"020105", L""},    // negative
        {L"3026022100" + std::wstring(64, L'1') + L"020105", L""},    // a needless zero
        {L"3027022200ff" + std::wstring(64, L'1') + L"020105", L""},  // 33 bytes of value
        {L"30250320" + r32 + L"020105", L""},                         // not an integer
        {L"30260220" + r32 + L"02010500", L""},                       // a byte after s
        {L"3006020100020105", L""},                                   // r = 0 as 00
        {L"", L""},
    };
    for (const auto& [hex, raw] : cases) {
        SCOPED_TRACE(testing::PrintToString(hex));
        const auto got = DerSignatureToRaw(der(hex));
        const auto want = ParseHexBytes(raw);
        if (raw.empty()) {
            EXPECT_FALSE(got);
        } else {
            ASSERT_TRUE(got);
            EXPECT_TRUE(std::equal(got->begin(), got->end(), want->begin()));
        }
    }
    EXPECT_FALSE(ParseHexBytes(L"0g"));
    EXPECT_FALSE(ParseHexBytes(L"012"));
}

TEST(ReadPublicKey, TakesAP256PemOrItsPointInHex) {
    const std::string point =
        "3cd29a74c9b1de1cf3099385c2442b0828a9e9f7d3e3f31a1cd72d231ecc8850"
        "51b38d3501f6251bff5c0013355d0ebacff3ebcd1d69d2b6a90de46396808a2a";
    const std::pair<std::string, bool> cases[] = {
        {"-----BEGIN PUBLIC KEY-----\n"
         "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEPNKadMmx3hzzCZOFwkQrCCip6ffT\n"
         "4/MaHNctIx7MiFBRs401AfYlG/9cABM1XQ66z/PrzR1p0rapDeRjloCKKg==\n"
         "-----END PUBLIC KEY-----\n",
         true},
        {point + "\n", true},
        {"04" + point, true},
        {"05" + point, false},
        {point.substr(2), false},
        // A P-384 key is not taken for a P-256 one.
        {"-----BEGIN PUBLIC KEY-----\n"
         "MHYwEAYHKoZIzj0CAQYFK4EEACIDYgAEdoewfRHur8MHg/jJaTr7HWULdAiFPNCm\n"
         "-----END PUBLIC KEY-----\n",
         false},
        {"-----BEGIN PUBLIC KEY-----\nMFkw*\n-----END PUBLIC KEY-----\n", false},
    };
    for (const auto& [text, read] : cases) {
        SCOPED_TRACE(text);
        const auto key = ReadPublicKey(text);
        ASSERT_EQ(key.has_value(), read);
        if (read) {
            const auto want = ParseHexBytes(std::wstring(point.begin(), point.end()));
            EXPECT_TRUE(std::equal(key->begin(), key->end(), want->begin()));
        }
    }
}

TEST(ParseManifest, MandatoryOnlyForTheExactWordTrue) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {LR"({"mandatory": true})", true},    {LR"({"mandatory": "true"})", true},
        {LR"({"mandatory": "TRUE"})", false}, {LR"({"mandatory": "True"})", false},
        {LR"({"mandatory": 1})", false},      {LR"({"mandatory": "yes"})", false},
        {LR"({"mandatory": null})", false},   {LR"({"mandatory": false})", false},
        {LR"({"version": "1"})", false},
    };
    for (const auto& [text, mandatory] : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&text - &cases[0].first));
        EXPECT_EQ(ParseManifest(text).mandatory, mandatory);
    }
}

}  // namespace
