#include "install/updater_identity.h"

#include <algorithm>

namespace {

std::string JoinComma(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ",") + item;
    }
    return text;
}

bool IsDigestHex(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// "a,b" into its items; an empty text is an empty list. By hand: string
// streams would bring the locale library, doubling the executable.
std::optional<std::vector<std::string>> SplitDigests(const std::string& text) {
    std::vector<std::string> items;
    for (size_t at = 0; at < text.size();) {
        const size_t comma = std::min(text.find(',', at), text.size());
        items.push_back(text.substr(at, comma - at));
        if (!IsDigestHex(items.back()) || comma + 1 == text.size()) {
            return std::nullopt;
        }
        at = comma + 1;
    }
    return items;
}

std::vector<std::string> Sorted(std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
    return items;
}

bool ShareOne(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    return std::any_of(a.begin(), a.end(), [&](const std::string& item) {
        return std::find(b.begin(), b.end(), item) != b.end();
    });
}

}  // namespace

std::string FormatSelfCheckAnswer(const UpdaterIdentity& identity) {
    return "version=" + identity.version + "\nhost=" + identity.host + "\nport=" + identity.port +
           "\npins=" + JoinComma(identity.pins) +
           "\nrelease_keys=" + JoinComma(identity.releaseKeys) + "\n";
}

std::optional<UpdaterIdentity> ParseSelfCheckAnswer(const std::string& text) {
    static const char* const kKeys[] = {"version", "host", "port", "pins", "release_keys"};
    std::string values[5];
    size_t at = 0;
    for (size_t i = 0; i < 5; ++i) {
        const std::string key = std::string(kKeys[i]) + "=";
        const size_t end = text.find('\n', at);
        if (end == std::string::npos || text.compare(at, key.size(), key) != 0) {
            return std::nullopt;
        }
        values[i] = text.substr(at + key.size(), end - at - key.size());
        at = end + 1;
    }
    auto pins = SplitDigests(values[3]);
    auto keys = SplitDigests(values[4]);
    if (at != text.size() || values[0].empty() || values[1].empty() || values[2].empty() || !pins ||
        pins->empty() || !keys) {
        return std::nullopt;
    }
    return UpdaterIdentity{values[0], values[1], values[2], std::move(*pins), std::move(*keys)};
}

bool MayReplace(const UpdaterIdentity& running, const UpdaterIdentity& candidate) {
    if (running.host != candidate.host || running.port != candidate.port) {
        return false;
    }
    if (Sorted(running.pins) == Sorted(candidate.pins) &&
        Sorted(running.releaseKeys) == Sorted(candidate.releaseKeys)) {
        return true;
    }
    // A hand-over moves to new keys step by step; it never drops signing.
    return !running.releaseKeys.empty() && !candidate.releaseKeys.empty() &&
           ShareOne(running.pins, candidate.pins) &&
           ShareOne(running.releaseKeys, candidate.releaseKeys);
}
