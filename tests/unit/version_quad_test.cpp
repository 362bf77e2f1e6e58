#include <gtest/gtest.h>

#include <climits>

#include "update/version_quad.h"

namespace {

struct ParseCase {
    const wchar_t* text;
    VersionQuad expected;
};

TEST(ParseVersionQuad, ReadsLikeTheCScannerWithSaturation) {
    const ParseCase cases[] = {
        {L"1.2.3.4", {{1, 2, 3, 4}}},
        {L"2.0", {{2, 0, 0, 0}}},
        {L"1.2.3+7", {{1, 2, 3, 7}}},
        {L"3.1.0+12", {{3, 1, 0, 12}}},
        {L"", {{0, 0, 0, 0}}},
        {L"V2.0.0.0", {{0, 0, 0, 0}}},
        {L"-1.5.0.0", {{-1, 5, 0, 0}}},
        {L"1, 2, 3, 4", {{1, 0, 0, 0}}},
        {L"1..2", {{1, 0, 0, 0}}},
        {L" 1. 2", {{1, 2, 0, 0}}},
        {L"1 .2", {{1, 0, 0, 0}}},
        {L"1.2.3.4.5", {{1, 2, 3, 4}}},
        {L"1.2.3.4-beta", {{1, 2, 3, 4}}},
        {L"1.-", {{1, 0, 0, 0}}},
        {L"2147483647.2147483648.99999999999999999999.-2147483649",
         {{INT_MAX, INT_MAX, INT_MAX, INT_MIN}}},
        {L"-2147483648", {{INT_MIN, 0, 0, 0}}},
        {L"007.08", {{7, 8, 0, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "text #" << (&c - cases));
        const VersionQuad quad = ParseVersionQuad(c.text);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(quad.part[i], c.expected.part[i]) << "component " << i;
        }
    }
}

struct NewerCase {
    const wchar_t* server;
    const wchar_t* installed;
    bool newer;
};

TEST(IsNewerVersion, ComparesComponentsNumericallyInOrder) {
    const NewerCase cases[] = {
        {L"1.2.3.4", L"1.2.3.4", false},
        {L"1.2.3.10", L"1.2.3.9", true},
        {L"2.0", L"1.9.9.9", true},
        {L"1.2.3+7", L"1.2.3.6", true},
        {L"", L"0.0.0.0", false},
        {L"V2.0.0.0", L"1.0.0.0", false},
        {L"1.0.0.0", L"-1.5.0.0", true},
        {L"1.2.9.9", L"1.2.10.0", false},
        {L"1.2.3.5", L"1.2.3.4", true},
        {L"1.2", L"1.2.0.0", false},
        {L"1.2.0.0", L"1.2", false},
        {L"1.0.0.0", L"2.0.0.0", false},
        {L"99999999999", L"2147483647", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case #" << (&c - cases));
        EXPECT_EQ(IsNewerVersion(ParseVersionQuad(c.server), ParseVersionQuad(c.installed)),
                  c.newer);
    }
}

}  // namespace
