#include "install/package_unpack.h"

#include "common/log.h"
#include "install/builtin_unpack.h"
#include "install/folders.h"
#include "install/process_launch.h"
#include "update/update_report.h"

bool UnpackPackage(const std::wstring& archivePath, const std::wstring& folder) {
    // An archive whose directory cannot be read is left to both ways, which
    // each refuse it and say why.
    const std::optional<UnpackedSize> size = ReadUnpackedSize(archivePath);
    if (size && !HasRoomToUnpack(folder, *size)) {
        return false;
    }
    if (ExtractArchive(archivePath, folder,
                       [&] { return CompareUnpackedTree(archivePath, folder); })) {
        NoteUnpackWay("powershell");
        return true;
    }
    NoteUnpackWay("builtin");
    // Nothing PowerShell left behind, whole or in part, is mixed with the
    // built-in unpack's files.
    if (!ClearFolderAway(folder)) {
        LogEvent("unpack.end", {{"way", "builtin"}, {"result", "failed"}, {"reason", "folder"}});
        return false;
    }
    return BuiltinUnpack(archivePath, folder);
}
