// Text crosses to and from the network as UTF-8 and is converted once, here.
#pragma once

#include <optional>
#include <string>

// Ill-formed sequences become U+FFFD; a byte-order mark is kept as U+FEFF.
// False for an empty input or when nothing could be converted.
bool Utf8ToWide(const std::string& bytes, std::wstring& out);

std::string WideToUtf8(const std::wstring& text);

// Nothing when the text holds what UTF-8 cannot carry (a lone surrogate):
// for text that is signed, where a replacement would change what is signed.
std::optional<std::string> WideToUtf8Exact(const std::wstring& text);
