#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "common/hex.h"
#include "update/manifest_reader.h"
#include "update/release_signature.h"
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
    // Length and signing time: there (even empty or not a string) or not.
    const UpdateManifest both = ParseManifest(LR"({"length": "12", "signed": 5})");
    EXPECT_EQ(both.length.value_or(L"none") + L"|" + both.signedAt.value_or(L"none"), L"12|");
    EXPECT_FALSE(ParseManifest(LR"({"version": "2"})").length.has_value());
}

TEST(ReleaseStatement, OneLineAFieldNotesLastAndNothingThatReadsTwoWays) {
    const std::wstring digest(64, L'A');
    const std::wstring a64(64, L'a');
    const ReleaseFields old{.version = L"2.0.0.0",
                            .url = L"https://h:1/r/zel.zip?a=1",
                            .urlPath = L"/r/zel.zip?a=1",
                            .sha256 = digest,
                            .mandatory = true,
                            .notesShown = L"a\r\nversion=9"};
    const auto with = [&](const wchar_t* length, const wchar_t* time) {
        ReleaseFields fields = old;
        fields.length = length ? std::optional<std::wstring>(length) : std::nullopt;
        fields.signedAt = time ? std::optional<std::wstring>(time) : std::nullopt;
        return fields;
    };
    const wchar_t* const t = L"2026-02-28T23:59:59Z";
    const std::pair<ReleaseFields, std::wstring> cases[] = {
        {old, L"ZEL release 1\nproduct=ZEL_ACC\nversion=2.0.0.0\nurl_path=/r/zel.zip?a=1\nsha256=" +
                  a64 + L"\nmandatory=true\nnotes=a\r\nversion=9"},
        {with(L"1048576", t),
         L"ZEL release 2\nproduct=ZEL_ACC\nversion=2.0.0.0\nurl=https://h:1/r/zel.zip?a=1\n"
         L"length=1048576\nsha256=" +
             a64 + L"\nmandatory=true\nsigned=2026-02-28T23:59:59Z\nnotes=a\r\nversion=9"},
        {with(L"0", t), L"length=0"},
        {with(L"18446744073709551615", t), L"length=18446744073709551615"},
        {with(L"18446744073709551616", t), L""},  // past 64 bits
        {with(L"01", t), L""},
        {with(L"+1", t), L""},
        {with(L"1 ", t), L""},
        {with(L"", t), L""},
        {with(L"1", nullptr), L""},  // only one of the two
        {with(nullptr, t), L""},
        {with(L"1", L"2026-02-29T00:00:00Z"), L""},  // no such day
        {with(L"1", L"2024-02-29T00:00:00Z"), L"signed=2024-02-29T00:00:00Z"},
        {with(L"1", L"2026-01-01T24:00:00Z"), L""},
        {with(L"1", L"2026-01-01 00:00:00Z"), L""},
        {with(L"1", L"2026-01-01T00:00:00+00:00"), L""},
        {with(L"1", L"1969-12-31T23:59:59Z"), L""},
        {{L"2\n", L"/", L"/", digest}, L""},
        {{L"2", L"/", L"/\r", digest}, L""},
        {{L"2", L"https://h/\n", L"/", digest, false, L"", L"1", t}, L""},
        {{L"2", L"/", L"/", L""}, L""},
        {{L"2", L"/", L"/", std::wstring(63, L'a')}, L""},
        {{L"2", L"/", L"/", std::wstring(63, L'a') + L"g"}, L""},
    };
    for (const auto& [fields, expected] : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&fields - &cases[0].first));
        const std::wstring made = ReleaseStatement(fields).value_or(L"");
        // A whole statement, or a line that must be in it.
        EXPECT_TRUE(expected.empty() ? made.empty() : made.find(expected) != std::wstring::npos)
            << testing::PrintToString(made);
    }
}

TEST(VerifyReleaseSignature, AStatementUtf8CannotCarryIsMalformed) {
    // A lone surrogate would otherwise be signed as U+FFFD, and so would any other.
    const RawPublicKey anyKey = {};
    EXPECT_EQ(VerifyReleaseSignature(std::wstring(L"notes=\xD800"), L"3006020101020101", anyKey),
              SignatureVerdict::kMalformed);
}

TEST(SigningTime, SecondsSince1970AndTheMaximumAge) {
    const std::pair<const wchar_t*, long long> times[] = {
        {L"1970-01-01T00:00:00Z", 0},          {L"2000-03-01T00:00:00Z", 951868800},
        {L"2026-12-08T11:30:05Z", 1796729405}, {L"2038-01-19T03:14:08Z", 2147483648},
        {L"2100-03-01T00:00:00Z", 4107542400},
    };
    for (const auto& [text, seconds] : times) {
        EXPECT_EQ(ParseSigningTime(text).value_or(-1), seconds) << testing::PrintToString(text);
    }
    const long long day = 86400;
    // Signed at, now, the maximum age in days, stale.
    const std::tuple<long long, long long, unsigned, bool> ages[] = {
        {0, 1000 * day, 0, false},
        {0, 30 * day, 30, false},
        {0, 30 * day + 1, 30, true},
        {10 * day, 0, 1, false},  // signed "after" now: a clock behind is not staleness
    };
    for (const auto& [at, now, days, stale] : ages) {
        EXPECT_EQ(IsStatementStale(at, now, days), stale) << at << " " << now << " " << days;
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
