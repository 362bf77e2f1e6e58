// The update server's description of the current release.
#pragma once

#include <optional>
#include <string>

struct UpdateManifest {
    std::wstring version;
    std::wstring url;
    std::wstring sha256;
    std::wstring notes;
    std::wstring releaseDate;
    std::wstring uploadDate;
    bool mandatory = false;
    // The vendor's signature over the release (see release_statement.h).
    std::wstring signature;
    // Present only in releases signed with their length and time (decimal
    // bytes; "YYYY-MM-DDTHH:MM:SSZ"), as the manifest holds them.
    std::optional<std::wstring> length;
    std::optional<std::wstring> signedAt;
};
