#include <gtest/gtest.h>

#include "download/progress.h"
#include "download/url_path.h"

namespace {

TEST(RequestPathFromUrl, TakesThePathFromTheFirstSlashAfterTheScheme) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"https://updates.example.com/files/zel.zip", L"/files/zel.zip"},
        {L"https://other.example.net/zel.zip?token=a/b&x=1", L"/zel.zip?token=a/b&x=1"},
        {L"https://updates.example.com", L"/"},
        {L"https://", L"/"},
        {L"https:/", L"/"},
        {L"", L"/"},
        {L"http://h/x", L"/x"},
        {L"zel.zip", L"/"},
        {L"abcdefgh/zel.zip", L"/zel.zip"},
        {L"abcdefg/zel.zip", L"/"},
    };
    for (const auto& [url, path] : cases) {
        EXPECT_EQ(RequestPathFromUrl(url), path) << testing::PrintToString(url);
    }
}

struct ProgressCase {
    uint64_t length;
    uint64_t received;
    double elapsed;
    const wchar_t* text;
};

TEST(FormatProgressText, WritesPercentSpeedAndRemainingTime) {
    const ProgressCase cases[] = {
        {2097152, 524288, 2.0, L"25%   سرعت دانلود: 256 KB/s   زمان باقی مانده: 6 ثانیه"},
        {2097152, 16384, 0.0, L"0%   سرعت دانلود: 0 KB/s   زمان باقی مانده: 0 ثانیه"},
        {0, 300000, 1.5, L"0%   سرعت دانلود: 195 KB/s   زمان باقی مانده: 0 ثانیه"},
        {1000, 1000, 0.5, L"100%   سرعت دانلود: 1 KB/s   زمان باقی مانده: 0 ثانیه"},
        {4294967295u, 1, 1000.0,
         L"0%   سرعت دانلود: 0 KB/s   زمان باقی مانده: 4294967294000 ثانیه"},
        {4294967295u, 4294967295u, 1.0,
         L"100%   سرعت دانلود: 4194303 KB/s   زمان باقی مانده: 0 ثانیه"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case #" << (&c - cases));
        EXPECT_EQ(FormatProgressText(ComputeProgress(c.length, c.received, c.elapsed)), c.text);
    }
}

TEST(ComputeProgress, FormsThePercentageIn64Bits) {
    EXPECT_EQ(ComputeProgress(4000000000u, 3999999999u, 1).percent, 99u);
    EXPECT_EQ(ComputeProgress(100, 150, 1).percent, 100u) << "never more than the whole";
    EXPECT_EQ(ComputeProgress(100, 150, 1).remaining, 0.0);
}

}  // namespace
