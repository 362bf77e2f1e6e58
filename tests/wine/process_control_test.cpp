// Starting, closing and terminating real copies of the stand-in application.
#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace testing_support;

namespace {

class ProcessControl : public testing::Test {
  protected:
    void SetUp() override { record_ = UseAppRecord(scratch_.path()); }
    void TearDown() override { KillStrayApps(); }

    // Starts the v1.2.3.4 application (or another variant) copied to `relative`.
    DWORD StartCopy(const std::wstring& relative, const std::wstring& variant = L"v1.2.3.4") {
        const std::wstring path = scratch_ / relative;
        MakeFolder(path.substr(0, path.find_last_of(L'\\')));
        CopyInto(AppVariant(variant), path);
        const size_t before = ReadAppRecords(record_).size();
        ChildProcess child = StartProcess(L"\"" + path + L"\"", scratch_.path());
        EXPECT_EQ(WaitForAppRecords(record_, before + 1).size(), before + 1);
        handles_.push_back(child.process);
        return child.pid;
    }

    DWORD ExitCodeOf(size_t index, DWORD waitMs) {
        WaitForSingleObject(handles_[index], waitMs);
        DWORD code = 12345;
        GetExitCodeProcess(handles_[index], &code);
        return code;
    }

    std::vector<std::wstring> CloseEventsOf(DWORD pid) {
        std::vector<std::wstring> events;
        for (const auto& r : ReadAppRecords(record_)) {
            if (r.pid == pid && r.event != L"start") {
                events.push_back(r.event);
            }
        }
        return events;
    }

    ScratchFolder scratch_;
    std::wstring record_;
    std::vector<HANDLE> handles_;
};

TEST_F(ProcessControl, TheLaterButtonEndsOnlyThisOfficesApplication) {
    struct Case {
        const wchar_t* place;
        const wchar_t* variant;
        bool ours;
    } const cases[] = {
        {L"zel\\zel_acc.exe", L"v1.2.3.4", true},  // folder names in any case
        {L"ZEL.bak\\zel_acc.exe", L"refuses-close", true},
        {L"update\\helper.exe", L"v1.2.3.4", true},       // any program inside
        {L"ZELx\\ZEL\\zel_acc.exe", L"v1.2.3.4", false},  // another office
    };
    std::vector<DWORD> pids;
    for (const auto& c : cases) {
        pids.push_back(StartCopy(c.place, c.variant));
    }
    EXPECT_EQ(
        RunProcess(L"\"" + BinFolder() + L"\\install_driver.exe\" later", scratch_.path(), 20000),
        0u);
    for (size_t i = 0; i < pids.size(); ++i) {
        SCOPED_TRACE(Wide2Narrow(cases[i].place));
        EXPECT_EQ(ExitCodeOf(i, 0), cases[i].ours ? 0u : STILL_ACTIVE);
        EXPECT_EQ(CloseEventsOf(pids[i]).size(), cases[i].ours ? 2u : 0u) << "both windows";
    }
    const auto records = WaitForAppRecords(record_, 11);
    ASSERT_EQ(records.size(), 11u);
    EXPECT_EQ(records.back().event, L"start") << "and the application started again";
}

}  // namespace
