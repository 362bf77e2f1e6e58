// Who an updater build answers to: its server, the keys it pins and the
// release keys it trusts. A release may carry a new updater; before it
// replaces the running one, the two identities are compared, so that a test
// build or one built without the release key can never become an office's
// updater. Pure text and set logic, free of processes and files.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct UpdaterIdentity {
    std::string version;                   // four numbers
    std::string host;                      // the server's host name
    std::string port;                      // decimal
    std::vector<std::string> pins;         // 64 lower-case hex digits each, in build order
    std::vector<std::string> releaseKeys;  // SHA-256 of each key's 64 raw bytes, hex
};

// The self-check's answer, one "key=value" a line in a fixed order.
std::string FormatSelfCheckAnswer(const UpdaterIdentity& identity);

// The answer read back; nothing unless it is exactly that form (the keys in
// order, nothing before or after, every pin and fingerprint 64 lower-case hex
// digits).
std::optional<UpdaterIdentity> ParseSelfCheckAnswer(const std::string& text);

// Whether `candidate` may replace `running`: the same server and the same
// pins and release keys; or a hand-over, where both builds are signed, the
// server is the same, and they share at least one pin and one release key.
bool MayReplace(const UpdaterIdentity& running, const UpdaterIdentity& candidate);
