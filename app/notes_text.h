// The text of the notes box: both versions and the release notes, whose
// escapes for line breaks become real line breaks.
#pragma once

#include <string>

// Replaces every occurrence from left to right; inserted text is never
// searched again.
std::wstring ReplaceAll(std::wstring text, const std::wstring& pattern,
                        const std::wstring& replacement);

// The release notes as shown: their escapes for line breaks become real ones.
std::wstring ShownNotes(const std::wstring& notes);

std::wstring ComposeNotesText(const std::wstring& installedVersion,
                              const std::wstring& serverVersion, const std::wstring& notes);
