#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <tuple>

#include "archive/entry_path.h"
#include "archive/zip_directory.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& bytes, size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void Add(Bytes& bytes, uint32_t value, int size) {
    bytes.resize(bytes.size() + size);
    Put(bytes, bytes.size() - size, value, size);
}

void Add(Bytes& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

// Two stored entries, "a.txt" and "dir/b.txt", and where the parts lie.
struct Archive {
    Bytes bytes;
    std::vector<size_t> local, central;
    size_t directory = 0, end = 0;

    Archive() {
        const std::pair<std::string, std::string> files[] = {{"a.txt", "alpha"},
                                                             {"dir/b.txt", "bravo!"}};
        Bytes headers;
        for (const auto& [name, data] : files) {
            local.push_back(bytes.size());
            central.push_back(headers.size());
            Add(bytes, 0x04034b50, 4);
            Add(headers, 0x02014b50, 4);
            Add(headers, 20, 2);  // made by
            for (Bytes* out : {&bytes, &headers}) {
                for (const uint32_t field : {20, 0, 0, 0, 0}) {  // version, flags, method, time
                    Add(*out, field, 2);
                }
                Add(*out, 0, 4);  // CRC-32, which the reader leaves to the unpack
                Add(*out, static_cast<uint32_t>(data.size()), 4);
                Add(*out, static_cast<uint32_t>(data.size()), 4);
                Add(*out, static_cast<uint32_t>(name.size()), 2);
                Add(*out, 0, 2);  // extra field
            }
            for (const uint32_t field : {0, 0, 0}) {  // comment, disk, internal attributes
                Add(headers, field, 2);
            }
            Add(headers, 0, 4);  // external attributes
            Add(headers, static_cast<uint32_t>(local.back()), 4);
            Add(headers, name);
            Add(bytes, name + data);
        }
        directory = bytes.size();
        for (size_t& at : central) {
            at += directory;
        }
        bytes.insert(bytes.end(), headers.begin(), headers.end());
        end = bytes.size();
        for (const uint32_t field : {0x06054b50u, 0u, 0u, 2u, 2u}) {  // signature, disks, counts
            Add(bytes, field, field > 0xFFFF ? 4 : 2);
        }
        Add(bytes, static_cast<uint32_t>(headers.size()), 4);
        Add(bytes, static_cast<uint32_t>(directory), 4);
        Add(bytes, 0, 2);
    }
};

// The entries read, each with its local header; nothing when any is refused.
std::optional<std::vector<zip::Entry>> Read(const Bytes& bytes) {
    const std::span<const uint8_t> all(bytes);
    const auto location =
        zip::FindDirectory(all.last(std::min(bytes.size(), zip::kEndSearchBytes)), bytes.size());
    if (!location) {
        return std::nullopt;
    }
    auto entries = zip::ReadDirectory(all.subspan(location->offset, location->size), *location);
    for (const zip::Entry& entry : entries.value_or(std::vector<zip::Entry>())) {
        if (!zip::ReadLocalHeader(all.subspan(entry.localHeaderOffset), entry, location->offset)) {
            return std::nullopt;
        }
    }
    return entries;
}

TEST(ZipDirectory, ReadsWellFormedArchivesAndRefusesCraftedOnes) {
    const auto good = Read(Archive().bytes);
    ASSERT_TRUE(good);
    ASSERT_EQ(good->size(), 2u);
    EXPECT_EQ((*good)[1].name, "dir/b.txt");
    EXPECT_EQ((*good)[1].uncompressedSize, 6u);
    EXPECT_EQ((*good)[1].localHeaderOffset, 40u);
    auto comment = [](const std::string& text) {
        return [text](Archive& a) {
            Add(a.bytes, text);
            Put(a.bytes, a.end + 20, static_cast<uint32_t>(text.size()), 2);
        };
    };
    // What is changed, and whether the archive is still read.
    const std::tuple<const char*, bool, std::function<void(Archive&)>> cases[] = {
        {"a comment", true, comment("release 2.0")},
        {"an end signature in the comment", true, comment("PK\x05\x06" + std::string(26, 'x'))},
        {"a comment longer than what follows", false,
         [](Archive& a) { Put(a.bytes, a.end + 20, 1, 2); }},
        {"cut by one byte", false, [](Archive& a) { a.bytes.pop_back(); }},
        {"cut after the directory", false, [](Archive& a) { a.bytes.resize(a.end); }},
        {"directory past the end", false, [](Archive& a) { Put(a.bytes, a.end + 16, a.end, 4); }},
        {"directory into the end record", false,
         [](Archive& a) { Put(a.bytes, a.end + 12, a.end - a.directory + 1, 4); }},
        {"a local header past the directory", false,
         [](Archive& a) { Put(a.bytes, a.central[1] + 42, a.directory, 4); }},
        {"data into the directory", false,
         [](Archive& a) { Put(a.bytes, a.central[1] + 20, 7, 4); }},
        {"overlapping entries", false, [](Archive& a) { Put(a.bytes, a.central[1] + 42, 2, 4); }},
        {"the same entry twice", false, [](Archive& a) { Put(a.bytes, a.central[1] + 42, 0, 4); }},
        {"count above the headers", false,
         [](Archive& a) { Put(a.bytes, a.end + 8, 0x00030003, 4); }},
        {"count below the headers", false,
         [](Archive& a) { Put(a.bytes, a.end + 8, 0x00010001, 4); }},
        {"counts that differ", false, [](Archive& a) { Put(a.bytes, a.end + 8, 1, 2); }},
        {"another disk", false, [](Archive& a) { Put(a.bytes, a.end + 4, 1, 2); }},
        {"zip64 count", false, [](Archive& a) { Put(a.bytes, a.end + 8, 0xFFFFFFFF, 4); }},
        {"zip64 directory offset", false,
         [](Archive& a) { Put(a.bytes, a.end + 16, 0xFFFFFFFF, 4); }},
        {"zip64 entry size", false,
         [](Archive& a) { Put(a.bytes, a.central[0] + 24, 0xFFFFFFFF, 4); }},
        {"zip64 local offset", false,
         [](Archive& a) { Put(a.bytes, a.central[0] + 42, 0xFFFFFFFF, 4); }},
        {"an encrypted entry", false, [](Archive& a) { Put(a.bytes, a.central[0] + 8, 1, 2); }},
        {"a NUL in a name", false, [](Archive& a) { Put(a.bytes, a.central[0] + 47, 0, 1); }},
        {"a local header of another name", false,
         [](Archive& a) { Put(a.bytes, a.local[1] + 30, 'D', 1); }},
        {"a local header of another method", false,
         [](Archive& a) { Put(a.bytes, a.local[0] + 8, 8, 2); }},
        {"no central header signature", false,
         [](Archive& a) { Put(a.bytes, a.central[1], 0, 1); }},
    };
    for (const auto& [name, read, change] : cases) {
        Archive archive;
        change(archive);
        EXPECT_EQ(Read(archive.bytes).has_value(), read) << name;
    }
}

TEST(SafeEntryPath, KeepsEveryNameInsideTheFolder) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"a.txt", L"a.txt"},
        {L"dir/sub/b.ini", L"dir\\sub\\b.ini"},
        {L"dir\\", L"dir"},
        {L"داده/گزارش.txt", L"داده\\گزارش.txt"},
        {L"conf.txt", L"conf.txt"},
        {L"COM10", L"COM10"},
        {L"..\\evil", nullptr},
        {L"dir/../../evil", nullptr},
        {L"/evil", nullptr},
        {L"\\\\server\\share\\evil", nullptr},
        {L"C:evil", nullptr},
        {L"C:\\evil", nullptr},
        {L"a.txt:stream", nullptr},
        {L"a//b", nullptr},
        {L"./a", nullptr},
        {L"", nullptr},
        {L"/", nullptr},
        {L"...", nullptr},
        {L"a.", nullptr},
        {L"a ", nullptr},
        {L"a?b", nullptr},
        {L"a\x01", nullptr},
        {L"CON", nullptr},
        {L"dir/nul.txt", nullptr},
        {L"Com1", nullptr},
        {L"LPT9.log", nullptr},
        {L"COM\u00B9", nullptr},
        {L"con .txt", nullptr},
        {L"CONOUT$", nullptr},
    };
    for (const auto& [name, relative] : cases) {
        const auto path = zip::SafeEntryPath(name);
        EXPECT_EQ(path ? path->relative : L"refused", relative ? relative : L"refused")
            << testing::PrintToString(name);
    }
}

}  // namespace
