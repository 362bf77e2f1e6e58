#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "common/hex.h"
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
    const std::string ones(62, '1'), r32 = ones + "ff", s32 = std::string(62, '0') + "05";
    // The DER in hex, and r then s in hex, or nothing.
    const std::pair<std::string, std::string> cases[] = {
        {"3026022100ff" + ones + "020105", "ff" + ones + s32},
        {"30250220" + r32 + "020105", r32 + s32},
        {"30240220" + r32 + "020105", ""},         // a length that lies
        {"3025022080" + ones + "020105", ""},      // negative
        {"3026022100" + ones + "11020105", ""},    // a needless zero
        {"3027022200ff" + ones + "11020105", ""},  // 33 bytes of value
        {"30250320" + r32 + "020105", ""},         // not an integer
        {"30260220" + r32 + "02010500", ""},       // a byte after s
        {"3006020100020105", ""},                  // r = 0 as 00
        {"", ""},
    };
    for (const auto& [der, raw] : cases) {
        const auto got = DerSignatureToRaw(*ParseHexBytes(std::wstring(der.begin(), der.end())));
        EXPECT_EQ(got ? ToHex(got->data(), got->size()) : "", raw) << der;
    }
    EXPECT_FALSE(ParseHexBytes(L"0g") || ParseHexBytes(L"012"));
}

TEST(ReadPublicKey, TakesAP256PemOrItsPointInHex) {
    const std::string point =
        "3cd29a74c9b1de1cf3099385c2442b0828a9e9f7d3e3f31a1cd72d231ecc8850"
        "51b38d3501f6251bff5c0013355d0ebacff3ebcd1d69d2b6a90de46396808a2a";
    const std::string pem = "-----BEGIN PUBLIC KEY-----\n", end = "\n-----END PUBLIC KEY-----\n";
    const std::pair<std::string, bool> cases[] = {
        {pem +
             "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEPNKadMmx3hzzCZOFwkQrCCip6ffT\n"
             "4/MaHNctIx7MiFBRs401AfYlG/9cABM1XQ66z/PrzR1p0rapDeRjloCKKg==" +
             end,
         true},
        {point + "\n", true},
        {"04" + point, true},
        {"05" + point, false},
        {point.substr(2), false},
        {pem + "MFkw*" + end, false},
        // A P-384 key is not taken for a P-256 one.
        {pem + "MHYwEAYHKoZIzj0CAQYFK4EEACIDYgAEdoewfRHur8MHg/jJaTr7HWULdAiFPNCm" + end, false},
    };
    for (const auto& [text, read] : cases) {
        const auto key = ReadPublicKey(text);
        EXPECT_EQ(key ? ToHex(key->data(), key->size()) : "", read ? point : "") << text;
    }
}

}  // namespace
