// The support log: its lines, one older file kept, and whole lines from
// concurrent runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "common/log.h"
#include "common/unique_handle.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Lines carry the time, the ids, the event and quoted figures; past 1 MiB
// the log starts afresh and keeps one older file.
TEST(Log, RotatesPastOneMebibyteKeepingOneOlderFile) {
    ScratchFolder scratch;
    for (const char* round : {"first", "second"}) {
        SCOPED_TRACE(round);
        const std::string full(kLogRotateBytes + 1, 'o');
        WriteBytes(scratch / L"zel_updater.log", full);
        LogEvent("http", {{"path", L"/a b"},
                          {"round", round},
                          {"error", ErrorWithText(12029)},
                          {"move", ErrorWithText(ERROR_SHARING_VIOLATION)}});
        EXPECT_EQ(ReadBytes(scratch / L"zel_updater.log.1"), full);
        const auto lines = Lines(ReadBytes(scratch / L"zel_updater.log"));
        ASSERT_EQ(lines.size(), 1u);
        const std::string line =
            R"re(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} pid=\d+ tid=\d+ http )re"
            R"re(path="/a b" round=)re" +
            std::string(round) + R"re( error="12029 \(.+\)" move="32 \(.+\)"\r)re";
        EXPECT_TRUE(std::regex_match(lines[0], std::regex(line))) << lines[0];
    }
    EXPECT_FALSE(Exists(scratch / L"zel_updater.log.2"));
}

// Both pass the rotation threshold at the same moment: the log is set aside
// once, and no line is lost.
TEST(Log, TwoProcessesAppendingAtOnceGiveOnlyWholeLines) {
    ScratchFolder scratch;
    const std::string older(kLogRotateBytes - 2000, 'o');
    WriteBytes(scratch / L"zel_updater.log", older + "\r\n");
    const std::wstring writer = L"\"" + BinFolder() + L"\\log_writer.exe\" 1000 300";
    ChildProcess a = StartProcess(writer, scratch.path());
    ChildProcess b = StartProcess(writer, scratch.path());
    EXPECT_EQ(WaitForExit(a, kEventWaitMs), 0u);
    EXPECT_EQ(WaitForExit(b, kEventWaitMs), 0u);
    const std::regex whole(R"(.* pid=\d+ tid=\d+ writer n=\d+ filler=x{300}\r)");
    const std::string set = ReadBytes(scratch / L"zel_updater.log.1");
    ASSERT_TRUE(set.starts_with(older + "\r\n"));
    auto lines = Lines(set.substr(older.size() + 2));
    std::ranges::copy(Lines(ReadBytes(scratch / L"zel_updater.log")), std::back_inserter(lines));
    EXPECT_EQ(lines.size(), 2000u);
    for (const auto& line : lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line.substr(0, 120);
    }
}

// A program that keeps the log's lock byte (a hung run, a backup tool) costs
// a run one short wait, not its start: the lines still go in.
TEST(Log, ALockHeldElsewhereDoesNotStallTheRun) {
    ScratchFolder scratch;
    UniqueFileHandle log(CreateFileW((scratch / L"zel_updater.log").c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    OVERLAPPED lockRange = {};
    lockRange.OffsetHigh = 0x7FFFFFFF;
    ASSERT_TRUE(LockFileEx(log.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockRange));
    ChildProcess writer =
        StartProcess(L"\"" + BinFolder() + L"\\log_writer.exe\" 20 10", scratch.path());
    EXPECT_EQ(WaitForExit(writer, kEventWaitMs), 0u);
    EXPECT_EQ(Lines(ReadBytes(scratch / L"zel_updater.log")).size(), 20u);
}

}  // namespace
