#include <gtest/gtest.h>

#include "install/command_lines.h"

namespace {

TEST(LaunchWorkingFolder, IsTheTextBeforeTheLastSeparator) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"ZEL\\zel_acc.exe", L"ZEL"},     {L"a/b\\c.exe", L"a/b"},
        {L"a\\b/c.exe", L"a\\b"},          {L"zel_acc.exe", L""},
        {L"\\zel_acc.exe", L""},           {L"/zel_acc.exe", L""},
        {L"C:\\x\\y\\z.exe", L"C:\\x\\y"}, {L"", L""},
    };
    for (const auto& [path, folder] : cases) {
        EXPECT_EQ(LaunchWorkingFolder(path), folder) << testing::PrintToString(path);
    }
}

TEST(BuildLaunchCommandLine, QuotesThePathAndAppendsTheArgumentsAsTheyAre) {
    EXPECT_EQ(BuildLaunchCommandLine(L"ZEL\\zel_acc.exe", L""), L"\"ZEL\\zel_acc.exe\" ");
    EXPECT_EQ(BuildLaunchCommandLine(L"a b\\c.exe", L"-x \"y z\""), L"\"a b\\c.exe\" -x \"y z\"");
}

}  // namespace
