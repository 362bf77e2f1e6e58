#include "install/folders.h"

#include <windows.h>

#include "common/log.h"
#include "common/office_paths.h"
#include "common/unique_handle.h"

// The test build waits less for a folder in use; the mechanism is the same.
#ifndef ZEL_MOVE_RETRY_MS
#define ZEL_MOVE_RETRY_MS 10000
#endif

namespace {

constexpr ULONGLONG kMoveRetryMs = ZEL_MOVE_RETRY_MS;
constexpr DWORD kMoveRetryPauseMs = 250;
constexpr const wchar_t* kSetAsideMark = L".old-";

}  // namespace

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

namespace {

// Where the path would lead if it were an ordinary entry of its folder: the
// folder's real path and the name. Comparing with FinalPath tells a link.
std::wstring PlainPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 4] = {};
    wchar_t* name = nullptr;
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, &name);
    if (length == 0 || length >= MAX_PATH * 4 || name == nullptr || name == full) {
        return {};
    }
    const std::wstring parent(full, static_cast<size_t>(name - full - 1));
    const std::wstring realParent = FinalPath(parent);
    return realParent.empty() ? std::wstring() : realParent + L"\\" + name;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Under Wine a symbolic link to a file is no reparse point, and deleting or
// renaming it acts on its target. Replacing the name with a file of our own
// drops the link alone.
bool RemoveLinkByReplacing(const std::wstring& path) {
    const std::wstring stand = path + L".unlink-" + std::to_wstring(GetTickCount64());
    UniqueFileHandle file(CreateFileW(stand.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    file.reset();
    if (!MoveFileExW(stand.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(stand.c_str());
        return false;
    }
    return DeleteFileW(path.c_str()) != 0;
}

// `realPath` is where `path` leads if it is an ordinary entry of its folder.
bool RemoveEntry(const std::wstring& path, const std::wstring& realPath, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link or junction: remove the link itself, never look inside.
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) != 0
                                                       : DeleteFileW(path.c_str()) != 0;
    }
    if (!SamePath(FinalPath(path), realPath)) {
        return !(attributes & FILE_ATTRIBUTE_DIRECTORY) && RemoveLinkByReplacing(path);
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

// Only the names ClearFolderAway makes: "ZEL.bak.old-<digits>" and
// "update.old-<digits>". Anything else in the office folder is the office's.
bool IsSetAsideName(const std::wstring& name) {
    for (const wchar_t* folder : {kBackupFolder, kStagingFolder}) {
        const std::wstring prefix = std::wstring(folder) + kSetAsideMark;
        if (name.size() > prefix.size() &&
            CompareStringOrdinal(name.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                 static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL &&
            name.find_first_not_of(L"0123456789", prefix.size()) == std::wstring::npos) {
            return true;
        }
    }
    return false;
}

bool IsInUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
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

bool MoveFolderPatiently(const std::wstring& from, const std::wstring& to) {
    const ULONGLONG deadline = GetTickCount64() + kMoveRetryMs;
    for (int attempts = 1;; ++attempts) {
        if (MoveFolder(from, to)) {
            LogEvent("move",
                     {{"from", from}, {"to", to}, {"attempts", attempts}, {"result", "ok"}});
            return true;
        }
        const DWORD error = GetLastError();
        if (!IsInUse(error) || GetTickCount64() >= deadline) {
            LogEvent("move", {{"from", from},
                              {"to", to},
                              {"attempts", attempts},
                              {"result", "failed"},
                              {"error", ErrorWithText(error)}});
            return false;
        }
        Sleep(kMoveRetryPauseMs);
    }
}

bool RemoveFolderTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    return RemoveEntry(path, PlainPath(path), attributes);
}

bool ClearFolderAway(const std::wstring& path) {
    if (RemoveFolderTree(path)) {
        return true;
    }
    // What could not be removed (a file in use) is set aside under a new name,
    // which never touches what is inside. A link is left alone: Wine would
    // rename what it leads to.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !SamePath(FinalPath(path), PlainPath(path))) {
        return false;
    }
    const std::wstring aside = path + kSetAsideMark + std::to_wstring(GetTickCount64());
    const bool moved = MoveFolder(path, aside);
    LogEvent("set_aside", {{"folder", path}, {"to", aside}, {"result", moved ? "ok" : "failed"}});
    return moved;
}

void RemoveLeftoverFolders() {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(
        FindFirstFileW((std::wstring(L"*") + kSetAsideMark + L"*").c_str(), &entry));
    if (!find) {
        return;
    }
    int removed = 0;
    int left = 0;
    do {
        if (IsSetAsideName(entry.cFileName)) {
            (RemoveFolderTree(entry.cFileName) ? removed : left) += 1;
        }
    } while (FindNextFileW(find.get(), &entry));
    if (removed + left > 0) {
        LogEvent("cleanup", {{"removed", removed}, {"left", left}});
    }
}
