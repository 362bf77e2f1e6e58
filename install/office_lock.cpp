#include "install/office_lock.h"

#include <windows.h>

#include "common/log.h"
#include "common/office_paths.h"
#include "common/unique_handle.h"

namespace {
// Held until the process ends. The file stays on disk: deleting it on close
// would let a run that opened it just before see a lock nobody holds.
UniqueFileHandle g_lock;
}  // namespace

OfficeLock TakeOfficeLock() {
    g_lock.reset(CreateFileW(kLockFile, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (g_lock) {
        LogEvent("lock", {{"result", "taken"}});
        return OfficeLock::kTaken;
    }
    const DWORD error = GetLastError();
    const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    LogEvent("lock", {{"result", busy ? "busy" : "unavailable"}, {"error", ErrorWithText(error)}});
    return busy ? OfficeLock::kBusy : OfficeLock::kUnavailable;
}
