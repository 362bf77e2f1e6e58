// The part file that receives the package until the whole of it has arrived
// and been verified.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/unique_handle.h"
#include "download/sha256.h"

struct PartFile {
    UniqueFileHandle file;  // positioned at its end, ready for the next bytes
    Sha256 hash;            // of every byte already in the file
};

// kept 0: any record is removed first, then the part is created empty.
// Otherwise the part's first `kept` bytes are read back into the hash (the
// digest covers the whole file, and what lies on disk may have changed) and
// whatever follows them is cut off. False, with the system's code in `error`,
// when the part cannot be created, is shorter than `kept` or unreadable.
bool OpenPart(const std::wstring& partPath, uint64_t kept, PartFile& out, DWORD& error);

// The part's length on disk, 0 when there is none.
uint64_t PartLength(const std::wstring& partPath);

// Forces a closed part's bytes to disk, before a record may claim them.
bool FlushPart(const std::wstring& partPath);

// Removes the record, then the part: a record never outlives its bytes.
void DiscardPart(const std::wstring& partPath);
