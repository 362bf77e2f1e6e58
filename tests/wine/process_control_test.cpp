// Starting, closing and terminating real copies of the stand-in application.
#include <gtest/gtest.h>

#include "install/app_processes.h"
#include "install/command_lines.h"
#include "install/process_launch.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

bool SamePath(std::wstring a, std::wstring b) {
    for (auto* s : {&a, &b}) {
        for (auto& c : *s) {
            c = c == L'/' ? L'\\' : towlower(c);
        }
        while (!s->empty() && s->back() == L'\\') {
            s->pop_back();
        }
    }
    return a == b;
}

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

TEST_F(ProcessControl, LaunchProcessStartsInTheExecutablesFolder) {
    struct Case {
        const wchar_t* place;
        const wchar_t* path;
        const wchar_t* arguments;
        const wchar_t* folder;
        const wchar_t* commandLine;
    } const cases[] = {
        {L"ZEL\\zel_acc.exe", L"ZEL\\zel_acc.exe", L"", L"ZEL", L"\"ZEL\\zel_acc.exe\" "},
        {L"a\\b\\c.exe", L"a/b\\c.exe", L"", L"a\\b", L"\"a/b\\c.exe\" "},
        {L"d\\e.exe", L"d/e.exe", L"--one two", L"d", L"\"d/e.exe\" --one two"},
        {L"zel_acc.exe", L"zel_acc.exe", L"", L"", L"\"zel_acc.exe\" "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Wide2Narrow(c.path));
        const std::wstring place = scratch_ / c.place;
        MakeFolder(place.substr(0, place.find_last_of(L'\\')));
        CopyInto(AppVariant(L"v1.2.3.4"), place);
        const size_t before = ReadAppRecords(record_).size();
        ASSERT_TRUE(LaunchProcess(c.path, c.arguments));
        const auto records = WaitForAppRecords(record_, before + 1);
        ASSERT_EQ(records.size(), before + 1);
        EXPECT_TRUE(SamePath(records.back().folder, scratch_ / c.folder))
            << Wide2Narrow(records.back().folder);
        EXPECT_EQ(records.back().commandLine, c.commandLine);
    }
    EXPECT_FALSE(LaunchProcess(L"ZEL\\missing.exe", L""));
}

TEST_F(ProcessControl, ExtractArchiveRunsTheCommandAndJudgesItsExitCode) {
    const std::wstring commandRecord = scratch_ / L"unpacker-record.txt";
    SetEnvironmentVariableW(L"ZEL_UNPACKER_RECORD", commandRecord.c_str());
    CopyInto(BinFolder() + L"\\archives\\good.zip", scratch_ / L"zel.zip");
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"", true}, {L"0", true}, {L"1", false}, {L"7", false}, {L"-1", false},
    };
    for (const auto& [forced, result] : cases) {
        SCOPED_TRACE(Wide2Narrow(forced));
        SetEnvironmentVariableW(L"ZEL_UNPACKER_EXIT_CODE", *forced ? forced : nullptr);
        EXPECT_EQ(ExtractArchive(L"zel.zip", L"update"), result);
        const std::string line = ReadBytes(commandRecord);
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(line.data()), line.size() / 2),
                  BuildExtractCommandLine(L"zel.zip", L"update"));
    }
    SetEnvironmentVariableW(L"ZEL_UNPACKER_EXIT_CODE", nullptr);
    EXPECT_TRUE(Exists(scratch_ / L"update\\zel_acc.exe"));
    EXPECT_FALSE(ExtractArchive(L"missing.zip", L"update2"));
}

TEST_F(ProcessControl, CloseAppWindowsAsksEveryWindowOfAMatchingPath) {
    const DWORD installed = StartCopy(L"ZEL\\zel_acc.exe");
    const DWORD longerName = StartCopy(L"old\\zel_acc.exe.old");
    const DWORD capitals = StartCopy(L"caps\\ZEL_ACC.EXE");
    const DWORD refusing = StartCopy(L"stubborn\\zel_acc.exe", L"refuses-close");
    ASSERT_TRUE(CloseAppWindows());
    const std::vector<std::wstring> both = {L"close-main", L"close-hidden"};
    auto sorted = [](std::vector<std::wstring> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(sorted(CloseEventsOf(installed)), sorted(both));
    EXPECT_EQ(sorted(CloseEventsOf(longerName)), sorted(both));
    EXPECT_TRUE(CloseEventsOf(capitals).empty());
    EXPECT_EQ(sorted(CloseEventsOf(refusing)), sorted(both));
    EXPECT_EQ(ExitCodeOf(0, 5000), 0u);
    EXPECT_EQ(ExitCodeOf(1, 5000), 0u);
    EXPECT_EQ(ExitCodeOf(2, 0), STILL_ACTIVE);
    EXPECT_EQ(ExitCodeOf(3, 0), STILL_ACTIVE) << "it refuses to close";

    KillProcessesByName(L"zel_acc.exe");
    EXPECT_EQ(ExitCodeOf(2, 5000), 0u) << "the name in capitals is terminated";
    EXPECT_EQ(ExitCodeOf(3, 5000), 0u) << "terminated with exit code 0";
}

TEST_F(ProcessControl, KillProcessesByNameMatchesTheFileNameOnly) {
    StartCopy(L"ZEL.bak\\zel_acc.exe");
    StartCopy(L"caps\\ZEL_ACC.EXE");
    StartCopy(L"old\\zel_acc.exe.old");
    KillProcessesByName(L"zel_acc.exe");
    EXPECT_EQ(ExitCodeOf(0, 5000), 0u) << "a copy running from ZEL.bak";
    EXPECT_EQ(ExitCodeOf(1, 5000), 0u);
    EXPECT_EQ(ExitCodeOf(2, 500), STILL_ACTIVE) << "zel_acc.exe.old is another program";
    EXPECT_TRUE(WaitForProcessesToEnd(L"zel_acc.exe", 5000));
    TerminateProcess(handles_[2], 0);
}

TEST_F(ProcessControl, RestartApplicationClosesStartsAndEndsTheUpdater) {
    InstallApp(scratch_.path(), L"v1.2.3.4");
    const DWORD running = StartCopy(L"ZEL\\zel_acc.exe");
    const DWORD stubborn = StartCopy(L"other\\zel_acc.exe", L"refuses-close");
    EXPECT_EQ(
        RunProcess(L"\"" + BinFolder() + L"\\install_driver.exe\" restart", scratch_.path(), 20000),
        0u);
    EXPECT_EQ(ExitCodeOf(0, 0), 0u);
    EXPECT_EQ(ExitCodeOf(1, 0), 0u) << "terminated after the grace period";
    const auto records = WaitForAppRecords(record_, 7);
    ASSERT_GE(records.size(), 7u);
    EXPECT_FALSE(CloseEventsOf(running).empty());
    EXPECT_FALSE(CloseEventsOf(stubborn).empty());
    EXPECT_EQ(records.back().event, L"start");
    EXPECT_EQ(records.back().commandLine, L"\"ZEL\\zel_acc.exe\" ");
    EXPECT_TRUE(SamePath(records.back().folder, scratch_ / L"ZEL"));
}

}  // namespace
