#include "archive/entry_path.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string_view>

namespace zip {

namespace {

bool IsForbiddenCharacter(wchar_t c) {
    return c < 0x20 || std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos;
}

// Windows opens a device for these names, with any extension, and ignores
// blanks before the extension.
bool IsDeviceName(std::wstring_view component) {
    std::wstring base(component.substr(0, component.find(L'.')));
    base.erase(base.find_last_not_of(L' ') + 1);
    std::transform(base.begin(), base.end(), base.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
        base == L"CONOUT$") {
        return true;
    }
    // COM0-9 and LPT0-9, and with the superscript digits 1, 2 and 3.
    return base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT")) &&
           ((base[3] >= L'0' && base[3] <= L'9') || base[3] == L'\u00B9' || base[3] == L'\u00B2' ||
            base[3] == L'\u00B3');
}

// Windows makes short names such as PROGRA~1 and ZEL_AC~1.EXE for long ones:
// an entry of that form may land on another entry, or on a file already there.
bool MayBeShortAlias(std::wstring_view component) {
    for (size_t at = component.find(L'~'); at != std::wstring_view::npos;
         at = component.find(L'~', at + 1)) {
        if (at + 1 < component.size() && component[at + 1] >= L'0' && component[at + 1] <= L'9') {
            return true;
        }
    }
    return false;
}

bool IsSafeComponent(std::wstring_view component) {
    return !component.empty() && component != L"." && component != L".." &&
           component.back() != L'.' && component.back() != L' ' &&
           std::none_of(component.begin(), component.end(), IsForbiddenCharacter) &&
           !IsDeviceName(component) && !MayBeShortAlias(component);
}

}  // namespace

std::optional<EntryPath> SafeEntryPath(const std::wstring& name) {
    EntryPath path;
    path.relative = name;
    std::replace(path.relative.begin(), path.relative.end(), L'/', L'\\');
    if (!path.relative.empty() && path.relative.back() == L'\\') {
        path.folder = true;
        path.relative.pop_back();
    }
    if (path.relative.empty()) {
        return std::nullopt;
    }
    const std::wstring_view all(path.relative);
    for (size_t start = 0;;) {
        const size_t end = std::min(all.find(L'\\', start), all.size());
        if (!IsSafeComponent(all.substr(start, end - start))) {
            return std::nullopt;
        }
        if (end == all.size()) {
            return path;
        }
        start = end + 1;
    }
}

bool EntryPathSet::Add(const EntryPath& path) {
    // Upper case without a language's rules, as the file system folds names.
    std::wstring folded(path.relative.size(), L'\0');
    const int size = static_cast<int>(path.relative.size());
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path.relative.c_str(), size,
                      folded.data(), size, nullptr, nullptr, 0) != size) {
        return false;
    }
    return folded_.insert(std::move(folded)).second;
}

}  // namespace zip
