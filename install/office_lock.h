// One updater per office: a run holds zel_updater.lock in the office folder
// open without sharing until it ends. The system closes the file however the
// process ends, also when it crashes or is killed, and a file server keeps
// the same rule for two PCs using one shared folder.
#pragma once

enum class OfficeLock { kTaken, kBusy, kUnavailable };

// Takes the lock for the rest of the process. kBusy: another run holds it;
// kUnavailable: the file cannot be made (a folder the user may not write to).
OfficeLock TakeOfficeLock();
