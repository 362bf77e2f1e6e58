// This program is built against a port on which nothing listens.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "update/update_check.h"

using namespace testing_support;

TEST(CheckForUpdate, FailsPromptlyWhenNothingListens) {
    ScratchFolder scratch;
    InstallApp(scratch.path(), L"v1.2.3.4");
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(CheckForUpdate());
    EXPECT_LT(GetTickCount64() - start, 2000u) << "a refused connection must not hang";
    const std::string log = ReadBytes(scratch / L"zel_updater.log");
    EXPECT_NE(log.find("reason=connect status=0 error=\"12029 ("), std::string::npos) << log;
}
