#include <gtest/gtest.h>

#include <sstream>

#include "download/delta_plan.h"

namespace {

// "a:1:100 b:2:50": entries named a and b with CRC-32 1 and 2, each filling
// its region of 100 and 50 bytes, laid out one after the other from `at`.
std::vector<zip::Entry> Entries(const std::string& text, uint64_t at, uint64_t& end) {
    std::vector<zip::Entry> entries;
    std::istringstream in(text);
    for (std::string item; in >> item;) {
        zip::Entry entry;
        const size_t colon = item.find(':'), second = item.rfind(':');
        entry.name = item.substr(0, colon);
        entry.crc32 = std::stoul(item.substr(colon + 1, second - colon - 1));
        entry.compressedSize = entry.uncompressedSize = std::stoull(item.substr(second + 1));
        entry.localHeaderOffset = at;
        at += entry.compressedSize;
        entries.push_back(entry);
    }
    end = at;
    return entries;
}

// "c0+100@0 f100+50": copied from the previous archive at 0, then fetched.
std::string Spans(const delta::Plan& plan) {
    std::ostringstream text;
    for (const delta::Span& s : plan.spans) {
        text << (&s == &plan.spans[0] ? "" : " ") << (s.copy ? "c" : "f") << s.offset << "+"
             << s.length;
        if (s.copy) {
            text << "@" << s.from;
        }
    }
    return text.str();
}

TEST(PlanSpans, CopiesWhatIsTheSameAndFetchesTheRestInFewRequests) {
    // Joins copies under 10 bytes, at most 2 requests, at most 60 % fetched.
    const delta::Limits limits{10, 2, 60};
    const struct {
        const char* name;
        const char* old;
        const char* fresh;
        uint64_t start = 0;  // bytes the part already holds
        uint64_t tail = 0;   // bytes at the end already in memory
        uint64_t freshAt = 0;
        const char* spans;
        uint32_t copied, fetched;
        bool worthwhile = true;
    } cases[] = {
        {"the same archive", "a:1:100 b:1:100", "a:1:100 b:1:100", 0, 0, 0, "c0+200@0", 2, 0},
        {"one entry changed", "a:1:100 b:1:100 c:1:100", "a:1:100 b:2:100 c:1:100", 0, 0, 0,
         "c0+100@0 f100+100 c200+100@200", 2, 1},
        {"moved entries are copied from where they were", "a:1:100 b:1:50 c:1:100",
         "c:1:100 a:1:100 d:1:20", 0, 0, 0, "c0+100@150 c100+100@0 f200+20", 2, 1},
        {"same name, another CRC or length", "a:1:100 b:1:100 c:1:100 d:1:300",
         "a:2:100 b:1:101 c:1:100 d:1:300", 0, 0, 0, "f0+201 c201+400@200", 2, 2},
        {"a short copy between fetches is fetched", "a:1:100 b:1:9 c:1:100 d:1:400",
         "a:2:100 b:1:9 c:2:100 d:1:400", 0, 0, 0, "f0+209 c209+400@209", 1, 3},
        {"too many requests: the shortest copies go",
         "a:1:40 b:1:20 c:1:40 d:1:30 e:1:40 f:1:20 g:1:40 h:1:500",
         "a:2:40 b:1:20 c:2:40 d:1:30 e:2:40 f:1:20 g:2:40 h:1:500", 0, 0, 0,
         "f0+100 c100+30@100 f130+100 c230+500@230", 2, 6},
        {"most of it fetched: not worth it", "a:1:100 b:1:100 c:1:100", "a:2:100 b:2:100 c:1:100",
         0, 0, 0, "f0+200 c200+100@200", 1, 2, false},
        {"resumed inside a copy", "a:1:100 b:1:100 c:1:100", "a:1:100 b:2:100 c:1:100", 50, 0, 0,
         "c50+50@50 f100+100 c200+100@200", 1, 1},
        {"the tail in memory is not planned", "a:1:100 b:1:100 c:1:100", "a:1:100 b:1:100 c:2:100",
         0, 120, 0, "c0+180@0", 2, 1},
        {"bytes before the first entry are fetched", "a:1:100 b:1:100", "a:1:100 b:1:100", 0, 0, 8,
         "f0+8 c8+200@0", 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t oldEnd = 0, freshEnd = 0;
        const auto oldEntries = Entries(c.old, 0, oldEnd);
        const auto freshEntries = Entries(c.fresh, c.freshAt, freshEnd);
        const auto old = delta::EntryRegions(oldEntries, oldEnd);
        const auto fresh = delta::EntryRegions(freshEntries, freshEnd);
        const delta::Plan plan =
            delta::PlanSpans(fresh, old, c.start, freshEnd - c.tail, freshEnd - c.start, limits);
        EXPECT_EQ(Spans(plan), c.spans);
        EXPECT_EQ(plan.entriesCopied, c.copied);
        EXPECT_EQ(plan.entriesFetched, c.fetched);
        EXPECT_EQ(plan.worthwhile, c.worthwhile);
        EXPECT_EQ(plan.bytesCopied + plan.bytesFetched, freshEnd - c.tail - c.start);
    }
}

}  // namespace
