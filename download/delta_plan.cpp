#include "download/delta_plan.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace delta {

namespace {

bool SameEntry(const zip::Entry& a, const zip::Entry& b) {
    return a.name == b.name && a.crc32 == b.crc32 && a.compressedSize == b.compressedSize &&
           a.uncompressedSize == b.uncompressedSize && a.method == b.method && a.flags == b.flags &&
           a.modTime == b.modTime && a.modDate == b.modDate;
}

// Appends a span, joining it to the last one when both have the same source
// and continue each other.
void Append(std::vector<Span>& spans, Span span) {
    if (!spans.empty()) {
        Span& last = spans.back();
        const bool continues = last.copy == span.copy && last.offset + last.length == span.offset &&
                               (!span.copy || last.from + last.length == span.from);
        if (continues) {
            last.length += span.length;
            last.entries += span.entries;
            return;
        }
    }
    spans.push_back(span);
}

// Runs of copies between two fetches: fetching a run instead saves one request.
struct Gap {
    uint64_t length = 0;
    size_t first = 0;
    size_t last = 0;  // one past
};

// Fetches the copies between fetches that are too short to be worth a
// request of their own, then the shortest others until the requests fit.
std::vector<Span> JoinFetches(const std::vector<Span>& spans, const Limits& limits) {
    std::vector<Gap> gaps;
    uint32_t requests = 0;
    for (size_t i = 0; i < spans.size();) {
        if (!spans[i].copy) {
            ++requests;
            ++i;
            continue;
        }
        Gap gap{0, i, i};
        for (; gap.last < spans.size() && spans[gap.last].copy; ++gap.last) {
            gap.length += spans[gap.last].length;
        }
        if (gap.first > 0 && gap.last < spans.size()) {
            gaps.push_back(gap);
        }
        i = gap.last;
    }
    std::stable_sort(gaps.begin(), gaps.end(),
                     [](const Gap& a, const Gap& b) { return a.length < b.length; });
    std::vector<bool> fetched(spans.size(), false);
    for (const Gap& gap : gaps) {
        if (gap.length >= limits.joinBelowBytes && requests <= limits.maxRequests) {
            break;
        }
        std::fill(fetched.begin() + gap.first, fetched.begin() + gap.last, true);
        --requests;
    }
    std::vector<Span> joined;
    for (size_t i = 0; i < spans.size(); ++i) {
        Span span = spans[i];
        if (fetched[i]) {
            span.copy = false;
            span.from = 0;
        }
        Append(joined, span);
    }
    return joined;
}

}  // namespace

std::vector<Region> EntryRegions(const std::vector<zip::Entry>& entries, uint64_t directoryOffset) {
    std::vector<Region> regions;
    regions.reserve(entries.size());
    for (const zip::Entry& entry : entries) {
        regions.push_back({&entry, entry.localHeaderOffset, 0});
    }
    std::sort(regions.begin(), regions.end(),
              [](const Region& a, const Region& b) { return a.offset < b.offset; });
    for (size_t i = 0; i < regions.size(); ++i) {
        const uint64_t next = i + 1 < regions.size() ? regions[i + 1].offset : directoryOffset;
        regions[i].length = next - regions[i].offset;
    }
    return regions;
}

Plan PlanSpans(const std::vector<Region>& fresh, const std::vector<Region>& old, uint64_t start,
               uint64_t end, uint64_t wanted, const Limits& limits) {
    std::unordered_map<std::string_view, const Region*> oldByName;
    for (const Region& region : old) {
        oldByName.emplace(region.entry->name, &region);
    }
    Plan plan;
    std::vector<Span> spans;
    uint64_t at = start;
    for (const Region& region : fresh) {
        const uint64_t regionEnd = region.offset + region.length;
        if (region.offset >= end) {
            ++plan.entriesFetched;  // it came with the directory
            continue;
        }
        if (regionEnd <= start) {
            continue;
        }
        if (region.offset > at) {
            Append(spans, {at, region.offset - at, false, 0, 0});
        }
        const uint64_t first = std::max(region.offset, start);
        const uint64_t last = std::min(regionEnd, end);
        const auto match = oldByName.find(region.entry->name);
        const Region* source = match != oldByName.end() ? match->second : nullptr;
        const bool copy = source != nullptr && source->length == region.length &&
                          SameEntry(*source->entry, *region.entry);
        Append(spans,
               {first, last - first, copy, copy ? source->offset + (first - region.offset) : 0,
                region.offset >= start ? 1u : 0u});
        at = last;
    }
    if (at < end) {
        Append(spans, {at, end - at, false, 0, 0});
    }
    plan.spans = JoinFetches(spans, limits);
    for (const Span& span : plan.spans) {
        (span.copy ? plan.entriesCopied : plan.entriesFetched) += span.entries;
        (span.copy ? plan.bytesCopied : plan.bytesFetched) += span.length;
        plan.requests += span.copy ? 0 : 1;
    }
    plan.worthwhile = plan.requests <= limits.maxRequests &&
                      plan.bytesFetched * 100 <= wanted * limits.maxFetchPercent;
    return plan;
}

}  // namespace delta
