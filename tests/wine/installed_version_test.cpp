// ReadInstalledVersion against real executables with real version resources.
#include <gtest/gtest.h>

#include "common/texts.h"
#include "support/test_support.h"
#include "update/installed_version.h"
#include "update/update_info.h"

using namespace testing_support;

namespace {

struct VersionCase {
    const wchar_t* variant;  // nullptr: no executable at all
    bool folderInstead;      // a folder named zel_acc.exe
    bool expectedResult;
    const wchar_t* expectedVersion;
    int expectedBoxes;
};

TEST(ReadInstalledVersion, ReadsTheFirstTranslationsProductVersion) {
    const VersionCase cases[] = {
        {L"v1.2.3.4", false, true, L"1.2.3.4", 0},
        {L"v3.1.0+12", false, true, L"3.1.0+12", 0},
        {L"cp04e4", false, true, L"5.6.7.8", 0},
        {nullptr, false, false, L"", 0},
        {nullptr, true, false, L"", 1},
        {L"empty", false, false, L"", 1},
        {L"noversion", false, false, L"", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case #" << (&c - cases));
        ScratchFolder scratch;
        if (c.variant != nullptr) {
            InstallApp(scratch.path(), c.variant);
        }
        if (c.folderInstead) {
            MakeFolder(scratch / L"ZEL\\zel_acc.exe");
        }
        UpdateInfo = {};
        BoxCapture capture;
        EXPECT_EQ(ReadInstalledVersion(), c.expectedResult);
        EXPECT_EQ(UpdateInfo.installedVersion, c.expectedVersion);
        const auto boxes = capture.boxes();
        ASSERT_EQ(static_cast<int>(boxes.size()), c.expectedBoxes);
        for (const auto& box : boxes) {
            EXPECT_EQ(box.text, texts::kVersionReadError);
            EXPECT_EQ(box.caption, std::wstring(L"خطا"));
            EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONERROR));
        }
    }
}

}  // namespace
