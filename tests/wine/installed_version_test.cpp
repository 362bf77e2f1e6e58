// ReadInstalledVersion against real executables with real version resources.
#include <gtest/gtest.h>

#include "common/texts.h"
#include "support/test_support.h"
#include "update/installed_version.h"

using namespace testing_support;

namespace {

struct VersionCase {
    const wchar_t* variant;          // nullptr: no executable at all
    bool folderInstead;              // a folder named zel_acc.exe
    const wchar_t* expectedVersion;  // nullptr: none read
    int expectedBoxes;
};

TEST(ReadInstalledVersion, ReadsTheFirstTranslationsProductVersion) {
    const VersionCase cases[] = {
        {L"v1.2.3.4", false, L"1.2.3.4", 0}, {L"v3.1.0+12", false, L"3.1.0+12", 0},
        {L"cp04e4", false, L"5.6.7.8", 0},   {nullptr, false, nullptr, 0},
        {nullptr, true, nullptr, 1},         {L"empty", false, nullptr, 1},
        {L"noversion", false, nullptr, 1},
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
        BoxCapture capture;
        const std::optional<std::wstring> version = ReadInstalledVersion();
        EXPECT_EQ(version.has_value(), c.expectedVersion != nullptr);
        EXPECT_EQ(version.value_or(L""), c.expectedVersion != nullptr ? c.expectedVersion : L"");
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
