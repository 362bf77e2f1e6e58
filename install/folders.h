// Folder operations of the installation.
#pragma once

#include <string>

bool FolderExists(const std::wstring& path);

// Renames a folder, replacing where the platform allows and returning only
// once the move has reached the disk.
bool MoveFolder(const std::wstring& from, const std::wstring& to);

// Deletes the folder and everything in it. A link or junction inside is
// removed itself and never followed, so nothing outside the folder is
// touched; an entry that leads outside but cannot be removed as a link stays.
// True when the folder is gone (or never existed).
bool RemoveFolderTree(const std::wstring& path);

// Removes the folder, or when something in it cannot be removed, renames it
// aside so that its name is free. True when the name is free.
bool ClearFolderAway(const std::wstring& path);
