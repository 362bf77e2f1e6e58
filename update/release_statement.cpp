#include "update/release_statement.h"

#include <algorithm>
#include <cstring>

namespace {

int Nibble(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

bool HasLineBreak(const std::wstring& text) {
    return text.find_first_of(L"\r\n") != std::wstring::npos;
}

// The DER SubjectPublicKeyInfo of a P-256 key up to its uncompressed point:
// SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING { 04 X Y } }.
constexpr unsigned char kP256SpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

std::optional<std::vector<unsigned char>> DecodeBase64(std::string_view text) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<unsigned char> bytes;
    unsigned bits = 0;
    int count = 0;
    bool padded = false;
    for (const char c : text) {
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') {
            continue;
        }
        if (c == '=') {
            padded = true;
            continue;
        }
        const char* at = std::strchr(kAlphabet, c);
        if (c == '\0' || at == nullptr || padded) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<unsigned>(at - kAlphabet);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<unsigned char>(bits >> count));
        }
    }
    return bytes;
}

std::optional<RawPublicKey> KeyFromPoint(const std::vector<unsigned char>& point) {
    const size_t skip = point.size() == 65 && point[0] == 0x04 ? 1 : 0;
    if (point.size() - skip != 64) {
        return std::nullopt;
    }
    RawPublicKey key;
    std::copy(point.begin() + static_cast<long>(skip), point.end(), key.begin());
    return key;
}

}  // namespace

std::optional<std::wstring> ReleaseStatement(const ReleaseFields& fields) {
    if (HasLineBreak(fields.version) || HasLineBreak(fields.urlPath) || HasLineBreak(fields.url) ||
        !ParseHexBytes(fields.sha256) || fields.sha256.size() != 64 ||
        fields.length.has_value() != fields.signedAt.has_value()) {
        return std::nullopt;
    }
    std::wstring sha256 = fields.sha256;
    std::transform(sha256.begin(), sha256.end(), sha256.begin(),
                   [](wchar_t c) { return c >= L'A' && c <= L'F' ? c - L'A' + L'a' : c; });
    const std::wstring mandatory = fields.mandatory ? L"true" : L"false";
    if (!fields.length) {
        return L"ZEL release 1\nproduct=ZEL_ACC\nversion=" + fields.version + L"\nurl_path=" +
               fields.urlPath + L"\nsha256=" + sha256 + L"\nmandatory=" + mandatory + L"\nnotes=" +
               fields.notesShown;
    }
    if (!ParseSignedLength(*fields.length) || !ParseSigningTime(*fields.signedAt)) {
        return std::nullopt;
    }
    return L"ZEL release 2\nproduct=ZEL_ACC\nversion=" + fields.version + L"\nurl=" + fields.url +
           L"\nlength=" + *fields.length + L"\nsha256=" + sha256 + L"\nmandatory=" + mandatory +
           L"\nsigned=" + *fields.signedAt + L"\nnotes=" + fields.notesShown;
}

std::optional<unsigned long long> ParseSignedLength(std::wstring_view text) {
    if (text.empty() || text.size() > 20 || (text[0] == L'0' && text.size() > 1)) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (const wchar_t c : text) {
        const unsigned digit = static_cast<unsigned>(c - L'0');
        if (c < L'0' || c > L'9' || value > (~0ull - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::optional<long long> ParseSigningTime(std::wstring_view text) {
    // Where each number starts, its width and its range; between them the
    // fixed characters of "YYYY-MM-DDTHH:MM:SSZ".
    const std::wstring_view shape = L"0000-00-00T00:00:00Z";
    if (text.size() != shape.size()) {
        return std::nullopt;
    }
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= L'0' && text[i] <= L'9';
        if (shape[i] == L'0' ? !digit : text[i] != shape[i]) {
            return std::nullopt;
        }
    }
    const auto number = [&](size_t at, size_t width) {
        long long value = 0;
        for (size_t i = at; i < at + width; ++i) {
            value = value * 10 + (text[i] - L'0');
        }
        return value;
    };
    const long long year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const long long hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int monthDays[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > monthDays[month - 1] ||
        hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    // Days from 1970-01-01 to the first of the month (the civil-from-days
    // count, with March as the year's first month so the leap day comes last).
    const long long y = month <= 2 ? year - 1 : year;
    const long long era = y / 400, yearOfEra = y - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

bool IsStatementStale(long long signedAt, long long now, unsigned maxAgeDays) {
    return maxAgeDays != 0 && now - signedAt > static_cast<long long>(maxAgeDays) * 86400;
}

std::optional<std::vector<unsigned char>> ParseHexBytes(std::wstring_view text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = Nibble(text[i]);
        const int low = Nibble(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return bytes;
}

std::optional<RawSignature> DerSignatureToRaw(const std::vector<unsigned char>& der) {
    // Lengths of a P-256 signature are below 128, so only the short form is
    // strict DER here.
    if (der.size() < 8 || der[0] != 0x30 || der[1] != der.size() - 2) {
        return std::nullopt;
    }
    RawSignature raw = {};
    size_t at = 2;
    for (size_t half = 0; half < 2; ++half) {
        if (at + 2 > der.size() || der[at] != 0x02) {
            return std::nullopt;
        }
        size_t length = der[at + 1];
        at += 2;
        if (length == 0 || length > 33 || at + length > der.size() || (der[at] & 0x80) != 0) {
            return std::nullopt;
        }
        if (der[at] == 0x00) {
            // A leading zero only where the next byte would read as negative.
            if (length == 1 || (der[at + 1] & 0x80) == 0) {
                return std::nullopt;
            }
            ++at;
            --length;
        }
        if (length > 32) {
            return std::nullopt;
        }
        std::copy(der.begin() + static_cast<long>(at), der.begin() + static_cast<long>(at + length),
                  raw.begin() + static_cast<long>(half * 32 + 32 - length));
        at += length;
    }
    if (at != der.size()) {
        return std::nullopt;
    }
    return raw;
}

std::optional<RawPublicKey> ReadPublicKey(std::string_view text) {
    const std::string_view begin = "-----BEGIN PUBLIC KEY-----";
    const std::string_view end = "-----END PUBLIC KEY-----";
    const size_t first = text.find(begin);
    if (first == std::string_view::npos) {
        while (!text.empty() &&
               (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
            text.remove_suffix(1);
        }
        const auto bytes = ParseHexBytes(std::wstring(text.begin(), text.end()));
        return bytes ? KeyFromPoint(*bytes) : std::nullopt;
    }
    const size_t body = first + begin.size();
    const size_t last = text.find(end, body);
    if (last == std::string_view::npos) {
        return std::nullopt;
    }
    const auto der = DecodeBase64(text.substr(body, last - body));
    if (!der || der->size() != sizeof(kP256SpkiPrefix) + 64 ||
        !std::equal(std::begin(kP256SpkiPrefix), std::end(kP256SpkiPrefix), der->begin())) {
        return std::nullopt;
    }
    RawPublicKey key;
    std::copy(der->end() - 64, der->end(), key.begin());
    return key;
}
