#include <gtest/gtest.h>

#include "update/manifest_reader.h"

namespace {

struct ValueCase {
    const wchar_t* text;
    const wchar_t* key;
    const wchar_t* value;
};

TEST(ExtractJsonValue, FindsTheFirstQuotedKeyAndItsFirstValueStarter) {
    const ValueCase cases[] = {
        {LR"({"version": 2})", L"version", L""},
        {LR"({"version": null})", L"version", L""},
        {LR"({"notes": "a\"b"})", L"notes", L"a\\"},
        {LR"({"notes": "line\r\nnext\n"})", L"notes", L"line\\r\\nnext\\n"},
        {LR"({"notes": "\u0627"})", L"notes", L"\\u0627"},
        {LR"({"name": "version", "size": 5, "version": "3.0.0.0"})", L"version", L""},
        {LR"({"version": "1.0.0.0", "version": "2.0.0.0"})", L"version", L"1.0.0.0"},
        {LR"({ "version" : "1.0.0.0" })", L"version", L"1.0.0.0"},
        {LR"({"version":"1.0.0.0"})", L"version", L"1.0.0.0"},
        {LR"({"urls": "a", "url": "b"})", L"url", L"b"},
        {LR"({"version": "unterminated)", L"version", L"unterminated"},
        {LR"({"version")", L"version", L""},
        {LR"({"flag": true})", L"flag", L"true"},
        {LR"({"flag": false})", L"flag", L"false"},
        {LR"({"outer": {"version": "4.0"}})", L"version", L"4.0"},
        {L"not json at all", L"version", L""},
        {L"", L"version", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case #" << (&c - cases));
        EXPECT_EQ(ExtractJsonValue(c.text, c.key), c.value);
    }
}

TEST(ParseManifest, FillsTheSevenFields) {
    const UpdateManifest m = ParseManifest(
        LR"({"version": "2.1.0.0", "url": "https://h/zel.zip?x=1", "sha256": "ab",)"
        LR"( "notes": "n", "releaseDate": "2026-01-02", "uploadDate": "2026-01-03",)"
        LR"( "mandatory": false})");
    EXPECT_EQ(m.version, L"2.1.0.0");
    EXPECT_EQ(m.url, L"https://h/zel.zip?x=1");
    EXPECT_EQ(m.sha256, L"ab");
    EXPECT_EQ(m.notes, L"n");
    EXPECT_EQ(m.releaseDate, L"2026-01-02");
    EXPECT_EQ(m.uploadDate, L"2026-01-03");
    EXPECT_FALSE(m.mandatory);

    const UpdateManifest partial =
        ParseManifest(LR"({"version": "2.1.0.0", "notes": "n", "mandatory": true})");
    EXPECT_EQ(partial.version, L"2.1.0.0");
    EXPECT_EQ(partial.notes, L"n");
    EXPECT_TRUE(partial.url.empty() && partial.sha256.empty() && partial.releaseDate.empty() &&
                partial.uploadDate.empty());
    EXPECT_TRUE(partial.mandatory);

    const UpdateManifest empty = ParseManifest(L"");
    EXPECT_TRUE(empty.version.empty() && empty.url.empty() && empty.notes.empty());
    EXPECT_FALSE(empty.mandatory);
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
