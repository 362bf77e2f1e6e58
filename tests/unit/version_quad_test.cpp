#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "update/version_quad.h"

namespace {

TEST(ParseVersionQuad, ReadsLikeTheCScannerWithSaturation) {
    const std::pair<const wchar_t*, VersionQuad> cases[] = {
        // clang-format off
        {L"1.2.3.4", {{1, 2, 3, 4}}}, {L"2.0", {{2, 0, 0, 0}}}, {L"1.2.3+7", {{1, 2, 3, 7}}},
        {L"3.1.0+12", {{3, 1, 0, 12}}}, {L"", {{0, 0, 0, 0}}}, {L"V2.0.0.0", {{0, 0, 0, 0}}},
        {L"-1.5.0.0", {{-1, 5, 0, 0}}}, {L"1, 2, 3, 4", {{1, 0, 0, 0}}}, {L"1..2", {{1, 0, 0, 0}}},
        {L" 1. 2", {{1, 2, 0, 0}}}, {L"1 .2", {{1, 0, 0, 0}}}, {L"1.2.3.4.5", {{1, 2, 3, 4}}},
        {L"1.-", {{1, 0, 0, 0}}}, {L"007.08", {{7, 8, 0, 0}}}, {L"1.2.3.4-beta", {{1, 2, 3, 4}}},
        {L"-2147483648", {{INT_MIN, 0, 0, 0}}},
        {L"2147483647.2147483648.99999999999999999999.-2147483649",
         {{INT_MAX, INT_MAX, INT_MAX, INT_MIN}}},
        // clang-format on
    };
    for (const auto& [text, expected] : cases) {
        const VersionQuad quad = ParseVersionQuad(text);
        EXPECT_TRUE(std::ranges::equal(quad.part, expected.part)) << testing::PrintToString(text);
    }
}

TEST(IsNewerVersion, ComparesComponentsNumericallyInOrder) {
    const std::tuple<const wchar_t*, const wchar_t*, bool> cases[] = {
        // clang-format off
        {L"1.2.3.4", L"1.2.3.4", false}, {L"1.2.3.10", L"1.2.3.9", true},
        {L"2.0", L"1.9.9.9", true}, {L"1.2.3+7", L"1.2.3.6", true}, {L"", L"0.0.0.0", false},
        {L"V2.0.0.0", L"1.0.0.0", false}, {L"1.0.0.0", L"-1.5.0.0", true},
        {L"1.2.9.9", L"1.2.10.0", false}, {L"1.2.3.5", L"1.2.3.4", true},
        {L"1.2", L"1.2.0.0", false}, {L"1.2.0.0", L"1.2", false}, {L"1.0.0.0", L"2.0.0.0", false},
        {L"99999999999", L"2147483647", false},
        // clang-format on
    };
    for (const auto& [server, installed, newer] : cases) {
        EXPECT_EQ(IsNewerVersion(ParseVersionQuad(server), ParseVersionQuad(installed)), newer)
            << testing::PrintToString(server) << " against " << testing::PrintToString(installed);
    }
}

}  // namespace
