#include "install/builtin_unpack.h"

#include <windows.h>

#include <zlib.h>

#include <algorithm>
#include <span>
#include <vector>

#include "archive/entry_path.h"
#include "archive/zip_directory.h"
#include "common/log.h"
#include "common/unique_handle.h"
#include "install/folders.h"

namespace {

constexpr size_t kChunkBytes = 256 * 1024;
// Room kept free beyond the files themselves: the log, the application's
// own writes, and each file's last cluster.
constexpr uint64_t kSpaceMarginBytes = 64ull << 20;
constexpr uint64_t kClusterBytes = 4096;

struct Failure {
    const char* reason = "";
    std::string entry;
    DWORD error = 0;
};

bool Fail(Failure& failure, const char* reason, const std::string& entry = {}, DWORD error = 0) {
    failure = {reason, entry, error};
    return false;
}

class ArchiveFile {
  public:
    bool Open(const std::wstring& path) {
        file_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        LARGE_INTEGER size = {};
        if (!file_ || !GetFileSizeEx(file_.get(), &size)) {
            return false;
        }
        size_ = static_cast<uint64_t>(size.QuadPart);
        return true;
    }
    uint64_t size() const { return size_; }

    // Exactly into.size() bytes from the offset; false at the end of the file.
    bool ReadAt(uint64_t offset, std::span<uint8_t> into) {
        SetLastError(ERROR_HANDLE_EOF);
        for (size_t done = 0; done < into.size();) {
            OVERLAPPED at = {};
            at.Offset = static_cast<DWORD>(offset + done);
            at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
            DWORD read = 0;
            const DWORD want =
                static_cast<DWORD>(std::min<size_t>(into.size() - done, kChunkBytes));
            if (!ReadFile(file_.get(), into.data() + done, want, &read, &at) || read == 0) {
                return false;
            }
            done += read;
        }
        return true;
    }

  private:
    UniqueFileHandle file_;
    uint64_t size_ = 0;
};

struct Directory {
    zip::DirectoryLocation location;
    std::vector<zip::Entry> entries;

    UnpackedSize Size() const {
        UnpackedSize size;
        size.entries = static_cast<uint32_t>(entries.size());
        for (const zip::Entry& entry : entries) {
            size.bytes += entry.uncompressedSize;
        }
        return size;
    }
};

bool ReadDirectory(ArchiveFile& archive, Directory& directory, Failure& failure) {
    std::vector<uint8_t> tail(std::min<uint64_t>(archive.size(), zip::kEndSearchBytes));
    if (!archive.ReadAt(archive.size() - tail.size(), tail)) {
        return Fail(failure, "read", {}, GetLastError());
    }
    const auto location = zip::FindDirectory(tail, archive.size());
    if (!location) {
        return Fail(failure, "directory");
    }
    std::vector<uint8_t> bytes(location->size);
    if (!archive.ReadAt(location->offset, bytes)) {
        return Fail(failure, "read", {}, GetLastError());
    }
    auto entries = zip::ReadDirectory(bytes, *location);
    if (!entries) {
        return Fail(failure, "directory");
    }
    directory = {*location, std::move(*entries)};
    return true;
}

// Names are UTF-8 when the entry says so, else in the OEM code page, as
// Windows' own zip tools write them.
std::optional<std::wstring> EntryName(const zip::Entry& entry) {
    const UINT codePage = (entry.flags & zip::kFlagUtf8) ? CP_UTF8 : CP_OEMCP;
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int size = static_cast<int>(entry.name.size());
    const int length = MultiByteToWideChar(codePage, flags, entry.name.data(), size, nullptr, 0);
    std::wstring name(static_cast<size_t>(std::max(length, 0)), L'\0');
    if (length <= 0 || MultiByteToWideChar(codePage, flags, entry.name.data(), size, name.data(),
                                           length) != length) {
        return std::nullopt;
    }
    return name;
}

// A symbolic link stored by a Unix zip tool, or a reparse point by Windows'.
bool IsLink(const zip::Entry& entry) {
    constexpr uint8_t kMadeOnUnix = 3;
    const bool unixLink = (entry.versionMadeBy >> 8) == kMadeOnUnix &&
                          ((entry.externalAttributes >> 16) & 0xF000) == 0xA000;
    return unixLink || (entry.externalAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

struct PlannedEntry {
    const zip::Entry* entry;
    zip::EntryPath path;
};

// Every entry is judged before anything is written.
bool Plan(const Directory& directory, std::vector<PlannedEntry>& plan, Failure& failure) {
    uint64_t total = 0;
    zip::EntryPathSet paths;
    for (const zip::Entry& entry : directory.entries) {
        const auto name = EntryName(entry);
        const auto path = name ? zip::SafeEntryPath(*name) : std::nullopt;
        if (!path || (path->folder && entry.uncompressedSize != 0) || !paths.Add(*path)) {
            return Fail(failure, "name", entry.name);
        }
        if (IsLink(entry)) {
            return Fail(failure, "link", entry.name);
        }
        if (entry.method != zip::kMethodStored && entry.method != zip::kMethodDeflated) {
            return Fail(failure, "method", entry.name);
        }
        total += entry.uncompressedSize;
        if (total > kMaxUnpackedBytes) {
            return Fail(failure, "too-large");
        }
        plan.push_back({&entry, *path});
    }
    return true;
}

// Makes the folders below the root, each one checked to be a real folder
// that leads to a place inside the root: something that slipped a link in
// meanwhile is not followed.
class FolderMaker {
  public:
    bool Start(const std::wstring& root) {
        root_ = root;
        if (!CreateDirectoryW(root.c_str(), nullptr)) {
            return false;
        }
        realRoot_ = FinalPath(root) + L"\\";
        return realRoot_.size() > 1;
    }

    bool Make(const std::wstring& relative) {
        // Entries come grouped by folder, mostly.
        if (relative == last_) {
            return true;
        }
        for (size_t end = 0; end != std::wstring::npos;) {
            end = relative.find(L'\\', end + 1);
            const std::wstring path = root_ + L"\\" + relative.substr(0, end);
            if (!CreateDirectoryW(path.c_str(), nullptr)) {
                const DWORD error = GetLastError();
                const DWORD attributes = GetFileAttributesW(path.c_str());
                if (error != ERROR_ALREADY_EXISTS) {
                    SetLastError(error);
                    return false;
                }
                // Two entries may name one folder; a file or a link there
                // is refused.
                if (attributes == INVALID_FILE_ATTRIBUTES ||
                    (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                    !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    SetLastError(ERROR_DIRECTORY);
                    return false;
                }
            }
            const std::wstring real = FinalPath(path);
            if (real.size() <= realRoot_.size() ||
                CompareStringOrdinal(real.c_str(), static_cast<int>(realRoot_.size()),
                                     realRoot_.c_str(), static_cast<int>(realRoot_.size()),
                                     TRUE) != CSTR_EQUAL) {
                SetLastError(ERROR_BAD_PATHNAME);
                return false;
            }
        }
        last_ = relative;
        return true;
    }

  private:
    std::wstring root_;
    std::wstring realRoot_;
    std::wstring last_;
};

class Inflater {
  public:
    Inflater() { ready_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ready_) {
            inflateEnd(&stream_);
        }
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    bool Reset() { return ready_ && inflateReset(&stream_) == Z_OK; }
    z_stream& stream() { return stream_; }

  private:
    z_stream stream_ = {};
    bool ready_ = false;
};

bool WriteAll(HANDLE file, const uint8_t* data, size_t size) {
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool WriteFailed(Failure& failure, const std::string& entry) {
    const DWORD error = GetLastError();
    const bool full = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
    return Fail(failure, full ? "disk-full" : "write", entry, error);
}

class Unpacker {
  public:
    Unpacker(ArchiveFile& archive, const Directory& directory)
        : archive_(archive), directory_(directory), in_(kChunkBytes), out_(kChunkBytes) {}

    bool Write(const std::wstring& root, const std::vector<PlannedEntry>& plan, Failure& failure) {
        if (!folders_.Start(root)) {
            return Fail(failure, "folder", {}, GetLastError());
        }
        for (const PlannedEntry& planned : plan) {
            const std::wstring& relative = planned.path.relative;
            const size_t parent = relative.find_last_of(L'\\');
            const std::wstring folder = planned.path.folder            ? relative
                                        : parent == std::wstring::npos ? std::wstring()
                                                                       : relative.substr(0, parent);
            if (!folder.empty() && !folders_.Make(folder)) {
                return Fail(failure, "folder", planned.entry->name, GetLastError());
            }
            if (!planned.path.folder &&
                !WriteEntry(*planned.entry, root + L"\\" + relative, failure)) {
                return false;
            }
        }
        return true;
    }

  private:
    // Where the entry's data starts, from its local header; the data must
    // end before the central directory.
    std::optional<uint64_t> DataOffset(const zip::Entry& entry) {
        std::vector<uint8_t> header(zip::kLocalHeaderFixedBytes);
        if (!archive_.ReadAt(entry.localHeaderOffset, header)) {
            return std::nullopt;
        }
        const std::optional<uint64_t> headerBytes = zip::LocalHeaderBytes(header);
        if (!headerBytes) {
            return std::nullopt;
        }
        header.resize(*headerBytes);
        const auto local = archive_.ReadAt(entry.localHeaderOffset, header)
                               ? zip::ReadLocalHeader(header, entry, directory_.location.offset)
                               : std::nullopt;
        return local ? std::optional(local->dataOffset) : std::nullopt;
    }

    bool WriteEntry(const zip::Entry& entry, const std::wstring& target, Failure& failure) {
        const std::optional<uint64_t> dataOffset = DataOffset(entry);
        if (!dataOffset) {
            return Fail(failure, "local-header", entry.name);
        }
        UniqueFileHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
        if (!file) {
            return WriteFailed(failure, entry.name);
        }
        if (!CopyData(entry, *dataOffset, file.get(), failure)) {
            return false;
        }
        if (!CloseHandle(file.release())) {
            return WriteFailed(failure, entry.name);
        }
        return true;
    }

    // Streams the entry's data into the file, inflating where it is
    // deflated and never writing past the size the directory gives, then
    // checks the size and the CRC-32. Stored data passes through the same
    // input buffer.
    bool CopyData(const zip::Entry& entry, uint64_t offset, HANDLE file, Failure& failure) {
        const bool deflated = entry.method == zip::kMethodDeflated;
        if (deflated && !inflater_.Reset()) {
            return Fail(failure, "data", entry.name);
        }
        z_stream& stream = inflater_.stream();
        stream.avail_in = 0;
        uint64_t left = entry.compressedSize;
        uint64_t written = 0;
        uLong crc = crc32(0, nullptr, 0);
        for (bool ended = false; !ended;) {
            if (stream.avail_in == 0 && left > 0) {
                const size_t size = static_cast<size_t>(std::min<uint64_t>(left, in_.size()));
                if (!archive_.ReadAt(offset, std::span(in_.data(), size))) {
                    return Fail(failure, "read", entry.name, GetLastError());
                }
                offset += size;
                left -= size;
                stream.next_in = in_.data();
                stream.avail_in = static_cast<uInt>(size);
            }
            const uint8_t* produced = stream.next_in;
            size_t producedBytes = stream.avail_in;
            if (deflated) {
                stream.next_out = out_.data();
                stream.avail_out = static_cast<uInt>(out_.size());
                const int result = inflate(&stream, Z_NO_FLUSH);
                if (result != Z_OK && result != Z_STREAM_END) {
                    return Fail(failure, "data", entry.name);
                }
                ended = result == Z_STREAM_END;
                produced = out_.data();
                producedBytes = out_.size() - stream.avail_out;
            } else {
                stream.avail_in = 0;
                ended = left == 0;
            }
            if (producedBytes > entry.uncompressedSize - written) {
                return Fail(failure, "data", entry.name);
            }
            if (producedBytes > 0) {
                crc = crc32(crc, produced, static_cast<uInt>(producedBytes));
                if (!WriteAll(file, produced, producedBytes)) {
                    return WriteFailed(failure, entry.name);
                }
                written += producedBytes;
            }
        }
        if (written != entry.uncompressedSize) {
            return Fail(failure, "data", entry.name);
        }
        return crc == entry.crc32 || Fail(failure, "crc", entry.name);
    }

    ArchiveFile& archive_;
    const Directory& directory_;
    FolderMaker folders_;
    Inflater inflater_;
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
};

std::string ErrorField(DWORD error) {
    return error == 0 ? std::string() : ErrorWithText(error);
}

bool UnpackInto(const std::wstring& archivePath, const std::wstring& folder, UnpackedSize& size,
                Failure& failure) {
    ArchiveFile archive;
    Directory directory;
    std::vector<PlannedEntry> plan;
    if (!archive.Open(archivePath)) {
        return Fail(failure, "read", {}, GetLastError());
    }
    if (!ReadDirectory(archive, directory, failure) || !Plan(directory, plan, failure)) {
        return false;
    }
    size = directory.Size();
    if (!HasRoomToUnpack(folder, size)) {
        return Fail(failure, "disk-space");
    }
    return Unpacker(archive, directory).Write(folder, plan, failure);
}

}  // namespace

std::optional<UnpackedSize> ReadUnpackedSize(const std::wstring& archivePath) {
    ArchiveFile archive;
    Directory directory;
    Failure failure;
    if (!archive.Open(archivePath)) {
        Fail(failure, "read", {}, GetLastError());
    } else if (ReadDirectory(archive, directory, failure)) {
        return directory.Size();
    }
    LogEvent(
        "unpack.space",
        {{"result", "unknown"}, {"reason", failure.reason}, {"error", ErrorField(failure.error)}});
    return std::nullopt;
}

std::optional<TreeDifference> CompareUnpackedTree(const std::wstring& archivePath,
                                                  const std::wstring& folder) {
    ArchiveFile archive;
    Directory directory;
    std::vector<PlannedEntry> plan;
    Failure failure;
    if (!archive.Open(archivePath)) {
        return TreeDifference{"read", {}};
    }
    if (!ReadDirectory(archive, directory, failure) || !Plan(directory, plan, failure)) {
        return TreeDifference{failure.reason, failure.entry};
    }
    for (const PlannedEntry& planned : plan) {
        WIN32_FILE_ATTRIBUTE_DATA found = {};
        if (!GetFileAttributesExW((folder + L"\\" + planned.path.relative).c_str(),
                                  GetFileExInfoStandard, &found) ||
            ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != planned.path.folder) {
            return TreeDifference{"missing", planned.entry->name};
        }
        const uint64_t size =
            (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        if (!planned.path.folder && size != planned.entry->uncompressedSize) {
            return TreeDifference{"size", planned.entry->name};
        }
    }
    return std::nullopt;
}

bool HasRoomToUnpack(const std::wstring& folder, const UnpackedSize& size) {
    // The folder may not exist yet: its parent is on the same volume.
    std::wstring full(MAX_PATH * 4, L'\0');
    wchar_t* name = nullptr;
    const DWORD length = GetFullPathNameW(folder.c_str(), MAX_PATH * 4, full.data(), &name);
    ULARGE_INTEGER available = {};
    if (length == 0 || length >= MAX_PATH * 4 || name == nullptr ||
        !GetDiskFreeSpaceExW(std::wstring(full.data(), name).c_str(), &available, nullptr,
                             nullptr)) {
        LogEvent("unpack.space", {{"result", "unknown"}, {"error", ErrorWithText(GetLastError())}});
        return true;  // a full disk is still told apart when a write fails
    }
    const uint64_t needed = size.bytes + kSpaceMarginBytes + size.entries * kClusterBytes;
    const bool room = available.QuadPart >= needed;
    LogEvent("unpack.space",
             {{"needed", needed}, {"free", available.QuadPart}, {"result", room ? "ok" : "short"}});
    return room;
}

bool BuiltinUnpack(const std::wstring& archivePath, const std::wstring& folder) {
    LogEvent("unpack.start", {{"way", "builtin"}, {"archive", archivePath}, {"folder", folder}});
    const ULONGLONG started = GetTickCount64();
    UnpackedSize size;
    Failure failure;
    const bool unpacked = UnpackInto(archivePath, folder, size, failure);
    const double seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
    if (unpacked) {
        LogEvent("unpack.end", {{"way", "builtin"},
                                {"result", "ok"},
                                {"entries", size.entries},
                                {"bytes", size.bytes},
                                {"seconds", seconds}});
    } else {
        LogEvent("unpack.end", {{"way", "builtin"},
                                {"result", "failed"},
                                {"reason", failure.reason},
                                {"entry", failure.entry},
                                {"error", ErrorField(failure.error)}});
    }
    return unpacked;
}
