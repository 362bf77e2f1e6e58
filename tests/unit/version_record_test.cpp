#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>

#include "support/test_support.h"
#include "update/version_record.h"

using namespace testing_support;

namespace {

TEST(VersionRecord, FourNumbersAndALineEndOrNothing) {
    const std::pair<std::string, const wchar_t*> cases[] = {
        {"2.0.0.0\n", L"2.0.0.0"},
        {"10.20.30.2147483647\n", L"10.20.30.2147483647"},
        {"2.0.0.0", nullptr},
        {"2.0.0\n", nullptr},
        {"2.0.0.0.1\n", nullptr},
        {"02.0.0.0\n", nullptr},
        {"2.0.0.4294967296\n", nullptr},
        {"2.0.0.0\n\n", nullptr},
        {"2.0..0\n", nullptr},
        {std::string("2\0.0.0\n", 7), nullptr},
        {"", nullptr},
    };
    for (const auto& [bytes, version] : cases) {
        EXPECT_EQ(ParseVersionRecord(bytes).value_or(L"none"), version ? version : L"none")
            << testing::PrintToString(bytes);
    }
}

TEST(VersionRecord, MissingDamagedRaisedNeverLowered) {
    ScratchFolder folder;
    const std::wstring path = folder / L"zel_updater.highest";
    EXPECT_EQ(ReadVersionRecord(path.c_str()).state, RecordState::kMissing);
    WriteBytes(path, "1.2.\x01garbage");
    EXPECT_EQ(ReadVersionRecord(path.c_str()).state, RecordState::kDamaged);
    // Damage reads as no record and is written over; a lower version never is.
    const std::pair<const wchar_t*, const char*> steps[] = {
        {L"2.0.0.0", "2.0.0.0\n"}, {L"1.9.9.9", "2.0.0.0\n"}, {L"3.1.0+12", "3.1.0.12\n"}};
    for (const auto& [version, after] : steps) {
        EXPECT_EQ(RaiseVersionRecord(version, path.c_str()).state, RecordState::kPresent);
        EXPECT_EQ(ReadBytes(path), after) << Wide2Narrow(version);
    }
}

TEST(VersionRecord, AReaderSeesTheOldRecordOrTheNewNeverAPart) {
    ScratchFolder folder;
    const std::wstring path = folder / L"zel_updater.highest";
    ASSERT_TRUE(WriteVersionRecord(L"1.0.0.0", path.c_str()));
    std::atomic<int> written = 0;
    std::thread writer([&] {
        for (int i = 1; i <= 300; ++i) {
            EXPECT_TRUE(WriteVersionRecord(L"1.0.0." + std::to_wstring(i), path.c_str()));
            ++written;
        }
    });
    // One read per write, at whatever moment of the next write it falls: a
    // reader that never let go would starve the writer (an open file cannot
    // be replaced), which no run does.
    for (int seen = 0; seen < 300;) {
        while (written == seen) {
            SwitchToThread();
        }
        seen = written;
        const VersionRecord record = ReadVersionRecord(path.c_str());
        ASSERT_EQ(record.state, RecordState::kPresent) << "after write " << seen;
    }
    writer.join();
    EXPECT_EQ(ReadVersionRecord(path.c_str()).version, L"1.0.0.300");
}

TEST(DecideOffer, NeverBelowTheRecordAndAMissingApplicationRepaired) {
    const VersionRecord none, damaged{RecordState::kDamaged, {}};
    const auto at = [](const wchar_t* v) { return VersionRecord{RecordState::kPresent, v}; };
    using enum OfferDecision;
    // Offered, installed ("0.0.0.0": unreadable), the record, the decision.
    const std::tuple<const wchar_t*, const wchar_t*, VersionRecord, OfferDecision> cases[] = {
        {L"2.0.0.0", L"0.0.0.0", none, kNewer},
        {L"2.0.0.0", L"0.0.0.0", at(L"3.0.0.0"), kOlderThanRecorded},
        {L"2.0.0.0", L"0.0.0.0", at(L"2.0.0.0"), kNewer},
        {L"2.0.0.0", L"1.2.3.4", at(L"3.0.0.0"), kOlderThanRecorded},
        {L"2.0.0.0", L"1.2.3.4", damaged, kNewer},
        {L"3.0.0.0", L"3.0.0.0", at(L"3.0.0.0"), kNotNewer},
        {L"3.0.0.1", L"3.0.0.0", at(L"3.0.0.0"), kNewer},
        {L"1.0.0.0", L"3.0.0.0", at(L"3.0.0.0"), kNotNewer},  // below the installed one too
    };
    for (const auto& [offered, installed, record, decision] : cases) {
        EXPECT_EQ(DecideOffer(offered, installed, record), decision)
            << Wide2Narrow(offered) << " " << Wide2Narrow(installed) << " "
            << Wide2Narrow(record.version);
    }
}

}  // namespace
