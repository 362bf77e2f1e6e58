#include "download/response_headers.h"

#include "download/resume_record.h"

namespace {

constexpr DWORD kMaxHeaderChars = 2048;

}  // namespace

std::wstring QueryHeaderText(HINTERNET request, DWORD query) {
    wchar_t text[kMaxHeaderChars];
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    return std::wstring(text, size / sizeof(wchar_t));
}

std::wstring ValidatorOf(HINTERNET request) {
    std::wstring validator = QueryHeaderText(request, WINHTTP_QUERY_ETAG);
    if (validator.empty()) {
        validator = QueryHeaderText(request, WINHTTP_QUERY_LAST_MODIFIED);
    }
    return IsSendableValidator(validator) ? validator : std::wstring();
}
