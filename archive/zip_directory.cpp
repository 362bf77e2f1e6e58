#include "archive/zip_directory.h"

#include <algorithm>
#include <string_view>

namespace zip {

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndFixedBytes = 22;
constexpr size_t kCentralFixedBytes = 46;

uint16_t Read16(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t Read32(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint32_t>(Read16(bytes, at)) | static_cast<uint32_t>(Read16(bytes, at + 2))
                                                          << 16;
}

}  // namespace

std::optional<DirectoryLocation> FindDirectory(std::span<const uint8_t> tail,
                                               uint64_t archiveSize) {
    if (tail.size() < kEndFixedBytes || tail.size() > archiveSize) {
        return std::nullopt;
    }
    // The record is the last one whose comment reaches exactly to the end;
    // a signature inside a comment does not satisfy that.
    for (size_t at = tail.size() - kEndFixedBytes + 1; at-- > 0;) {
        if (Read32(tail, at) != kEndSignature) {
            continue;
        }
        const uint16_t commentBytes = Read16(tail, at + 20);
        if (at + kEndFixedBytes + commentBytes != tail.size()) {
            continue;
        }
        const uint16_t disk = Read16(tail, at + 4);
        const uint16_t directoryDisk = Read16(tail, at + 6);
        const uint16_t entriesHere = Read16(tail, at + 8);
        const uint16_t entries = Read16(tail, at + 10);
        DirectoryLocation location;
        location.size = Read32(tail, at + 12);
        location.offset = Read32(tail, at + 16);
        location.entries = entries;
        location.endOffset = archiveSize - tail.size() + at;
        location.commentBytes = commentBytes;
        // 0xFFFF and 0xFFFFFFFF mark a zip64 archive, which this reader
        // does not take.
        if (disk != 0 || directoryDisk != 0 || entriesHere != entries || entries == 0xFFFF ||
            location.size == 0xFFFFFFFF || location.offset == 0xFFFFFFFF || entries > kMaxEntries ||
            location.size > kMaxDirectoryBytes ||
            location.offset + location.size > location.endOffset) {
            return std::nullopt;
        }
        return location;
    }
    return std::nullopt;
}

std::optional<std::vector<Entry>> ReadDirectory(std::span<const uint8_t> directory,
                                                const DirectoryLocation& location) {
    if (directory.size() != location.size || location.entries > kMaxEntries) {
        return std::nullopt;
    }
    std::vector<Entry> entries;
    entries.reserve(location.entries);
    size_t at = 0;
    for (uint32_t i = 0; i < location.entries; ++i) {
        if (directory.size() - at < kCentralFixedBytes ||
            Read32(directory, at) != kCentralSignature) {
            return std::nullopt;
        }
        Entry entry;
        entry.versionMadeBy = Read16(directory, at + 4);
        entry.flags = Read16(directory, at + 8);
        entry.method = Read16(directory, at + 10);
        entry.modTime = Read16(directory, at + 12);
        entry.modDate = Read16(directory, at + 14);
        entry.crc32 = Read32(directory, at + 16);
        entry.compressedSize = Read32(directory, at + 20);
        entry.uncompressedSize = Read32(directory, at + 24);
        const size_t nameBytes = Read16(directory, at + 28);
        const size_t extraBytes = Read16(directory, at + 30);
        const size_t commentBytes = Read16(directory, at + 32);
        const uint16_t disk = Read16(directory, at + 34);
        entry.externalAttributes = Read32(directory, at + 38);
        entry.localHeaderOffset = Read32(directory, at + 42);
        const size_t headerBytes = kCentralFixedBytes + nameBytes + extraBytes + commentBytes;
        if (nameBytes == 0 || nameBytes > kMaxNameBytes || directory.size() - at < headerBytes ||
            disk != 0 || (entry.flags & kFlagEncrypted) != 0 ||
            entry.compressedSize == 0xFFFFFFFF || entry.uncompressedSize == 0xFFFFFFFF ||
            entry.localHeaderOffset == 0xFFFFFFFF) {
            return std::nullopt;
        }
        const auto* name =
            reinterpret_cast<const char*>(directory.data() + at + kCentralFixedBytes);
        entry.name.assign(name, nameBytes);
        if (entry.name.find('\0') != std::string::npos) {
            return std::nullopt;
        }
        // The smallest room the entry needs must lie before the directory.
        const uint64_t least =
            entry.localHeaderOffset + kLocalHeaderFixedBytes + nameBytes + entry.compressedSize;
        if (least > location.offset) {
            return std::nullopt;
        }
        entries.push_back(std::move(entry));
        at += headerBytes;
    }
    if (at != directory.size()) {
        return std::nullopt;
    }
    // Entries sharing bytes are how some zip bombs multiply their output.
    // Here only the least room is known; the local header's own name and
    // extra field, which place the data, are checked against dataLimit when
    // it is read.
    std::vector<Entry*> byOffset;
    byOffset.reserve(entries.size());
    for (Entry& entry : entries) {
        byOffset.push_back(&entry);
    }
    std::sort(byOffset.begin(), byOffset.end(), [](const Entry* a, const Entry* b) {
        return a->localHeaderOffset < b->localHeaderOffset;
    });
    for (size_t i = 0; i < byOffset.size(); ++i) {
        Entry& entry = *byOffset[i];
        entry.dataLimit =
            i + 1 < byOffset.size() ? byOffset[i + 1]->localHeaderOffset : location.offset;
        const uint64_t leastEnd = entry.localHeaderOffset + kLocalHeaderFixedBytes +
                                  entry.name.size() + entry.compressedSize;
        if (leastEnd > entry.dataLimit) {
            return std::nullopt;
        }
    }
    return entries;
}

std::optional<uint64_t> LocalHeaderBytes(std::span<const uint8_t> fixedPart) {
    if (fixedPart.size() < kLocalHeaderFixedBytes || Read32(fixedPart, 0) != kLocalSignature) {
        return std::nullopt;
    }
    return kLocalHeaderFixedBytes + Read16(fixedPart, 26) + Read16(fixedPart, 28);
}

std::optional<LocalHeader> ReadLocalHeader(std::span<const uint8_t> bytes, const Entry& entry,
                                           uint64_t archiveSize) {
    const std::optional<uint64_t> headerBytes = LocalHeaderBytes(bytes);
    if (!headerBytes || bytes.size() < *headerBytes) {
        return std::nullopt;
    }
    const size_t nameBytes = Read16(bytes, 26);
    const std::string_view name(reinterpret_cast<const char*>(bytes.data()) + 30, nameBytes);
    if (name != entry.name || Read16(bytes, 8) != entry.method) {
        return std::nullopt;
    }
    LocalHeader header;
    header.headerBytes = *headerBytes;
    header.dataOffset = entry.localHeaderOffset + *headerBytes;
    if (header.dataOffset + entry.compressedSize > std::min(archiveSize, entry.dataLimit)) {
        return std::nullopt;
    }
    return header;
}

}  // namespace zip
