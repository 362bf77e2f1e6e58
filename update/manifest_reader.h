// Reads the manifest's keys by text search, without a document tree. String
// values come back raw (no escape decoding), the words true and false as
// text, and anything else, or anything not found, as empty text.
#pragma once

#include <optional>
#include <string>

#include "update/update_manifest.h"

std::wstring ExtractJsonValue(const std::wstring& text, const wchar_t* key);

// As ExtractJsonValue, but nothing when the key is not in the text at all.
std::optional<std::wstring> FindJsonValue(const std::wstring& text, const wchar_t* key);

UpdateManifest ParseManifest(const std::wstring& text);
