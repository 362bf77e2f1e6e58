#include "app/notes_text.h"

#include "common/texts.h"

std::wstring ReplaceAll(std::wstring text, const std::wstring& pattern,
                        const std::wstring& replacement) {
    for (size_t at = text.find(pattern); at != std::wstring::npos;
         at = text.find(pattern, at + replacement.size())) {
        text.replace(at, pattern.size(), replacement);
    }
    return text;
}

std::wstring ShownNotes(const std::wstring& notes) {
    // \r\n goes first, so that it never becomes CR CR LF.
    std::wstring body = ReplaceAll(notes, L"\\r\\n", L"\r\n");
    body = ReplaceAll(body, L"\\n", L"\r\n");
    return ReplaceAll(body, L"\\r", L"\r");
}

std::wstring ComposeNotesText(const std::wstring& installedVersion,
                              const std::wstring& serverVersion, const std::wstring& notes) {
    return texts::kClientVersionLabel + installedVersion + L"\r\n" + texts::kServerVersionLabel +
           serverVersion + L"\r\n" + ShownNotes(notes);
}
