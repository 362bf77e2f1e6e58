// Folder operations of the installation.
#pragma once

#include <string>

bool FolderExists(const std::wstring& path);

// Where the path really leads, links resolved; empty when it cannot be told.
std::wstring FinalPath(const std::wstring& path);

// Renames a folder, replacing where the platform allows and returning only
// once the move has reached the disk.
bool MoveFolder(const std::wstring& from, const std::wstring& to);

// MoveFolder, retried for a while as long as something holds the folder
// (a sharing or access error). Logs the attempts and the final error.
bool MoveFolderPatiently(const std::wstring& from, const std::wstring& to);

// Deletes the folder and everything in it. A link or junction, the folder
// itself included, is removed itself and never followed, so nothing outside
// the folder is touched; a link that cannot be removed as a link stays.
// True when the name is gone (or never existed).
bool RemoveFolderTree(const std::wstring& path);

// Removes the folder, or when something in it cannot be removed, renames it
// aside (*.old-*) so that its name is free. A link is never renamed. True when
// the name is free.
bool ClearFolderAway(const std::wstring& path);

// Removes the folders earlier runs set aside, where possible now.
void RemoveLeftoverFolders();
