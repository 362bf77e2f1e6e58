#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "update/mandatory_record.h"
#include "update/update_report.h"
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

// A mandatory release seen lately, and not installed, still holds back the
// start without a server; 2026-12-08T12:00:00Z is "now".
TEST(MandatoryStillBlocks, NewerReleasesWithinTheGraceDays) {
    const ULONGLONG now = 134412048000000000ULL;
    const std::tuple<const char*, const wchar_t*, bool> cases[] = {
        // clang-format off
        {"2026-12-06T12:00:00Z 2.0.0.0", L"1.2.3.4", true},
        {"2026-12-01T12:00:01Z 2.0.0.0", L"1.2.3.4", true},
        {"2026-12-01T11:59:59Z 2.0.0.0", L"1.2.3.4", false},
        {"2026-12-06T12:00:00Z 2.0.0.0", L"2.0.0.0", false},
        {"2027-01-01T00:00:00Z 2.0.0.0", L"1.2.3.4", true},
        {"2026-12-06 2.0.0.0", L"1.2.3.4", false}, {"", L"1.2.3.4", false},
        // clang-format on
    };
    for (const auto& [record, installed, blocks] : cases) {
        EXPECT_EQ(MandatoryStillBlocks(record, installed, now, 7), blocks) << record;
    }
}

TEST(BuildReportPath, EveryValueEncoded) {
    const ReportFields fields{.office = "0123456789abcdef0123456789abcdef",
                              .from = "1.2.3.4",
                              .to = "2.0 &x=\xd8\xa8",
                              .result = "failed",
                              .stage = "download",
                              .cause = "http-error",
                              .way = "",
                              .bytes = 1234,
                              .delta = true,
                              .source = "origin"};
    EXPECT_EQ(BuildReportPath(fields),
              L"/api/sysboot/report/ZEL_ACC?office=0123456789abcdef0123456789abcdef&from=1.2.3.4"
              L"&to=2.0%20%26x%3D%D8%A8&result=failed&stage=download&cause=http-error&way="
              L"&bytes=1234&delta=1&source=origin");
}

}  // namespace
