#include "common/utf8.h"

#include <windows.h>

#include <climits>

bool Utf8ToWide(const std::string& bytes, std::wstring& out) {
    out.clear();
    if (bytes.size() > INT_MAX) {
        return false;
    }
    const int byteCount = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), byteCount, nullptr, 0);
    if (length <= 0) {
        return false;
    }
    out.resize(static_cast<size_t>(length));
    if (MultiByteToWideChar(CP_UTF8, 0, bytes.data(), byteCount, out.data(), length) != length) {
        out.clear();
        return false;
    }
    return true;
}

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int count = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), count, out.data(), length, nullptr, nullptr);
    }
    return out;
}

std::optional<std::string> WideToUtf8Exact(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) {
        return text.empty() ? std::optional<std::string>(std::string()) : std::nullopt;
    }
    const int count = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), count,
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string out(static_cast<size_t>(length), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), count, out.data(), length,
                            nullptr, nullptr) != length) {
        return std::nullopt;
    }
    return out;
}
