#include "install/folders.h"

#include <windows.h>

#include "common/unique_handle.h"

namespace {

// Where the path really leads, links resolved; empty when it cannot be told.
std::wstring FinalPath(const std::wstring& path) {
    UniqueFileHandle handle(CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    wchar_t buffer[MAX_PATH * 4] = {};
    if (!handle ||
        GetFinalPathNameByHandleW(handle.get(), buffer, MAX_PATH * 4, FILE_NAME_NORMALIZED) == 0) {
        return {};
    }
    return buffer;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// `realPath` is where `path` leads if it is an ordinary entry of its folder.
bool RemoveEntry(const std::wstring& path, const std::wstring& realPath, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link or junction: remove the link itself, never look inside.
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) != 0
                                                       : DeleteFileW(path.c_str()) != 0;
    }
    if (!SamePath(FinalPath(path), realPath)) {
        // Leads somewhere else although not marked as a link (Wine shows a
        // symbolic link to a file so, and deleting it deletes its target).
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return DeleteFileW(path.c_str()) != 0;
    }
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (find) {
        do {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") {
                RemoveEntry(path + L"\\" + name, realPath + L"\\" + name, entry.dwFileAttributes);
            }
        } while (FindNextFileW(find.get(), &entry));
    }
    find.reset();
    return RemoveDirectoryW(path.c_str()) != 0;
}

}  // namespace

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MoveFolder(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFolderTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    return RemoveEntry(path, FinalPath(path), attributes);
}

bool ClearFolderAway(const std::wstring& path) {
    if (RemoveFolderTree(path)) {
        return true;
    }
    // What could not be removed (a link, a file in use) is set aside under a
    // new name, which never touches what is inside.
    return MoveFolder(path, path + L".old-" + std::to_wstring(GetTickCount64()));
}
