#include "download/length_headers.h"

namespace {

// Consumes the digits at the front of `text`.
std::optional<uint64_t> TakeNumber(std::wstring_view& text) {
    uint64_t value = 0;
    size_t used = 0;
    for (; used < text.size() && text[used] >= L'0' && text[used] <= L'9'; ++used) {
        const uint64_t digit = static_cast<uint64_t>(text[used] - L'0');
        if (value > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    if (used == 0) {
        return std::nullopt;
    }
    text.remove_prefix(used);
    return value;
}

bool TakeText(std::wstring_view& text, std::wstring_view expected) {
    if (text.substr(0, expected.size()) != expected) {
        return false;
    }
    text.remove_prefix(expected.size());
    return true;
}

}  // namespace

std::optional<uint64_t> ParseContentLength(std::wstring_view text) {
    const std::optional<uint64_t> value = TakeNumber(text);
    return text.empty() ? value : std::nullopt;
}

std::optional<ContentRange> ParseContentRange(std::wstring_view text) {
    std::optional<uint64_t> first, last, total;
    if (!TakeText(text, L"bytes ") || !(first = TakeNumber(text)) || !TakeText(text, L"-") ||
        !(last = TakeNumber(text)) || !TakeText(text, L"/") || !(total = TakeNumber(text)) ||
        !text.empty() || *first > *last || *last >= *total) {
        return std::nullopt;
    }
    return ContentRange{*first, *last, *total};
}

const char* RefuseLength(std::optional<uint64_t> total, const ArchiveBound& bound) {
    if (bound.exact) {
        return total && *total != *bound.exact ? "length-mismatch" : nullptr;
    }
    if (!total) {
        return "no-length";
    }
    return *total > bound.most ? "too-large" : nullptr;
}
