#include "update/version_quad.h"

#include <algorithm>
#include <cwctype>
#include <limits>

namespace {

// One "%d" conversion: returns false (and consumes nothing useful) when no
// digit follows the optional blanks and sign, as the C scanner does.
bool ScanInteger(const std::wstring& text, size_t& pos, int32_t& out) {
    size_t p = pos;
    while (p < text.size() && std::iswspace(text[p])) {
        ++p;
    }
    bool negative = false;
    if (p < text.size() && (text[p] == L'-' || text[p] == L'+')) {
        negative = text[p] == L'-';
        ++p;
    }
    if (p >= text.size() || text[p] < L'0' || text[p] > L'9') {
        return false;
    }
    // Accumulate as a negative number so that INT32_MIN is reachable.
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    int64_t value = 0;
    while (p < text.size() && text[p] >= L'0' && text[p] <= L'9') {
        value = std::max(kMin - 1, value * 10 - (text[p] - L'0'));
        ++p;
    }
    if (negative) {
        out = static_cast<int32_t>(std::max(value, kMin));
    } else {
        out = static_cast<int32_t>(std::min(-value, int64_t{std::numeric_limits<int32_t>::max()}));
    }
    pos = p;
    return true;
}

}  // namespace

void ReplacePlusWithDot(std::wstring& text) {
    std::replace(text.begin(), text.end(), L'+', L'.');
}

VersionQuad ParseVersionQuad(std::wstring text) {
    ReplacePlusWithDot(text);
    VersionQuad quad;
    size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != L'.') {
                break;
            }
            ++pos;
        }
        if (!ScanInteger(text, pos, quad.part[i])) {
            break;
        }
    }
    return quad;
}

bool IsNewerVersion(const VersionQuad& server, const VersionQuad& installed) {
    for (int i = 0; i < 4; ++i) {
        if (server.part[i] != installed.part[i]) {
            return server.part[i] > installed.part[i];
        }
    }
    return false;
}
