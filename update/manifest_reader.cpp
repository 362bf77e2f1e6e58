#include "update/manifest_reader.h"

namespace {

constexpr const wchar_t* kValueStarters = L"\"tfn0123456789";

}  // namespace

std::wstring ExtractJsonValue(const std::wstring& text, const wchar_t* key) {
    // The closing quote is part of the pattern, so "url" never matches "urls".
    const std::wstring pattern = L"\"" + std::wstring(key) + L"\"";
    const size_t keyAt = text.find(pattern);
    if (keyAt == std::wstring::npos) {
        return {};
    }
    const size_t colon = text.find(L':', keyAt);
    if (colon == std::wstring::npos) {
        return {};
    }
    const size_t start = text.find_first_of(kValueStarters, colon);
    if (start == std::wstring::npos) {
        return {};
    }
    if (text[start] == L'"') {
        const size_t end = text.find(L'"', start + 1);
        return text.substr(start + 1,
                           end == std::wstring::npos ? std::wstring::npos : end - start - 1);
    }
    if (text.compare(start, 4, L"true") == 0) {
        return L"true";
    }
    if (text.compare(start, 5, L"false") == 0) {
        return L"false";
    }
    return {};
}

std::optional<std::wstring> FindJsonValue(const std::wstring& text, const wchar_t* key) {
    if (text.find(L"\"" + std::wstring(key) + L"\"") == std::wstring::npos) {
        return std::nullopt;
    }
    return ExtractJsonValue(text, key);
}

UpdateManifest ParseManifest(const std::wstring& text) {
    UpdateManifest manifest;
    manifest.version = ExtractJsonValue(text, L"version");
    manifest.url = ExtractJsonValue(text, L"url");
    manifest.sha256 = ExtractJsonValue(text, L"sha256");
    manifest.notes = ExtractJsonValue(text, L"notes");
    manifest.uploadDate = ExtractJsonValue(text, L"uploadDate");
    manifest.releaseDate = ExtractJsonValue(text, L"releaseDate");
    manifest.mandatory = ExtractJsonValue(text, L"mandatory") == L"true";
    manifest.signature = ExtractJsonValue(text, L"signature");
    manifest.length = FindJsonValue(text, L"length");
    manifest.signedAt = FindJsonValue(text, L"signed");
    return manifest;
}
