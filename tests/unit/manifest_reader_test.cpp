#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "update/manifest_reader.h"

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

TEST(ParseManifest, FillsTheSevenFieldsFromTheirKeysInAnyOrder) {
    const auto fields = [](const UpdateManifest& m) {
        return std::vector{m.version,
                           m.url,
                           m.sha256,
                           m.notes,
                           m.releaseDate,
                           m.uploadDate,
                           std::wstring(m.mandatory ? L"mandatory" : L"")};
    };
    EXPECT_EQ(fields(ParseManifest(
                  LR"({"uploadDate": "2026-01-03", "version": "2.1.0.0", "sha256": "ab",)"
                  LR"( "notes": "n", "releaseDate": "2026-01-02", "url": "https://h/zel.zip?x=1",)"
                  LR"( "mandatory": false})")),
              (std::vector<std::wstring>{L"2.1.0.0", L"https://h/zel.zip?x=1", L"ab", L"n",
                                         L"2026-01-02", L"2026-01-03", L""}));
    EXPECT_EQ(fields(ParseManifest(LR"({"version": "2.1.0.0", "notes": "n", "mandatory": true})")),
              (std::vector<std::wstring>{L"2.1.0.0", L"", L"", L"n", L"", L"", L"mandatory"}));
    EXPECT_EQ(fields(ParseManifest(L"")), std::vector<std::wstring>(7));
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
