#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <tuple>
#include <vector>

#include "archive/entry_path.h"
#include "archive/zip_directory.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& bytes, size_t at, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void Add(Bytes& bytes, uint64_t value, int size) {
    bytes.resize(bytes.size() + size);
    Put(bytes, bytes.size() - size, value, size);
}

// Two stored entries, "a.txt" and "dir/b.txt", and where the parts lie.
struct Archive {
    Bytes bytes;
    std::vector<size_t> local, central;
    size_t directory = 0, end = 0;

    Archive() {
        Bytes headers;
        for (const std::string name : {"a.txt", "dir/b.txt"}) {
            const std::string data = name + " data";
            local.push_back(bytes.size());
            central.push_back(headers.size());
            Add(bytes, 0x04034b50, 4);
            Add(headers, 0x02014b50, 4);
            Add(headers, 20, 2);  // made by
            for (Bytes* out : {&bytes, &headers}) {
                Add(*out, 20, 2);  // version needed
                // Flags, method (stored), time, date, CRC-32 (left to the unpack).
                Add(*out, 0, 12);
                Add(*out, data.size(), 4);
                Add(*out, data.size(), 4);
                Add(*out, name.size(), 4);  // and no extra field
            }
            Add(headers, 0, 10);  // comment, disk, attributes
            Add(headers, local.back(), 4);
            headers.insert(headers.end(), name.begin(), name.end());
            bytes.insert(bytes.end(), name.begin(), name.end());
            bytes.insert(bytes.end(), data.begin(), data.end());
        }
        directory = bytes.size();
        for (size_t& at : central) {
            at += directory;
        }
        bytes.insert(bytes.end(), headers.begin(), headers.end());
        end = bytes.size();
        Add(bytes, 0x06054b50, 4);
        Add(bytes, 0, 4);           // disks
        Add(bytes, 0x00020002, 4);  // entries on this disk and in all
        Add(bytes, headers.size(), 4);
        Add(bytes, directory, 4);
        Add(bytes, 0, 2);  // comment
    }
};

enum Part { kEnd, kCentral1, kCentral2, kLocal1, kLocal2 };

// Writes the value over `size` bytes at `at` in the part.
std::function<void(Archive&)> Poke(Part part, size_t at, uint32_t value, int size) {
    return [=](Archive& a) {
        const size_t base[] = {a.end, a.central[0], a.central[1], a.local[0], a.local[1]};
        Put(a.bytes, base[part] + at, value, size);
    };
}

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
    EXPECT_EQ((*good)[1].uncompressedSize, 14u);
    EXPECT_EQ((*good)[1].localHeaderOffset, 45u);
    auto comment = [](const std::string& text) {
        return [text](Archive& a) {
            a.bytes.insert(a.bytes.end(), text.begin(), text.end());
            Put(a.bytes, a.end + 20, static_cast<uint32_t>(text.size()), 2);
        };
    };
    // What is changed, and whether the archive is still read.
    // clang-format off
    const std::tuple<const char*, bool, std::function<void(Archive&)>> cases[] = {
        {"a comment", true, comment("release 2.0")},
        {"an end signature in the comment", true, comment("PK\x05\x06" + std::string(26, 'x'))},
        {"a comment longer than what follows", false, Poke(kEnd, 20, 1, 2)},
        {"cut by one byte", false, [](Archive& a) { a.bytes.pop_back(); }},
        {"cut after the directory", false, [](Archive& a) { a.bytes.resize(a.end); }},
        {"directory past the end", false, [](Archive& a) { Put(a.bytes, a.end + 16, a.end, 4); }},
        {"directory into the end record", false,
         [](Archive& a) { Put(a.bytes, a.end + 12, a.end - a.directory + 1, 4); }},
        {"a local header past the directory", false,
         [](Archive& a) { Put(a.bytes, a.central[1] + 42, a.directory, 4); }},
        {"data into the directory", false, Poke(kCentral2, 20, 15, 4)},
        // The first entry's data reaching to the directory holds the second.
        {"overlapping entries", false, Poke(kCentral1, 20, 63, 4)},
        {"the same entry twice", false, Poke(kCentral2, 42, 0, 4)},
        // The local extra field moves the first entry's data onto the second.
        {"data moved by a local extra field", false, Poke(kLocal1, 28, 10, 2)},
        {"count above the headers", false, Poke(kEnd, 8, 0x00030003, 4)},
        {"count below the headers", false, Poke(kEnd, 8, 0x00010001, 4)},
        {"counts that differ", false, Poke(kEnd, 8, 1, 2)},
        {"another disk", false, Poke(kEnd, 4, 1, 2)},
        {"zip64 count", false, Poke(kEnd, 8, 0xFFFFFFFF, 4)},
        {"zip64 directory offset", false, Poke(kEnd, 16, 0xFFFFFFFF, 4)},
        {"zip64 entry size", false, Poke(kCentral1, 24, 0xFFFFFFFF, 4)},
        {"zip64 local offset", false, Poke(kCentral1, 42, 0xFFFFFFFF, 4)},
        {"an encrypted entry", false, Poke(kCentral1, 8, 1, 2)},
        {"a NUL in a name", false, Poke(kCentral1, 47, 0, 1)},
        {"a local header of another name", false, Poke(kLocal2, 30, 'D', 1)},
        {"a local header of another method", false, Poke(kLocal1, 8, 8, 2)},
        {"no central header signature", false, Poke(kCentral2, 0, 0, 1)},
    };
    // clang-format on
    for (const auto& [name, read, change] : cases) {
        Archive archive;
        change(archive);
        EXPECT_EQ(Read(archive.bytes).has_value(), read) << name;
    }
}

TEST(SafeEntryPath, KeepsEveryNameInsideTheFolder) {
    const std::pair<const wchar_t*, const wchar_t*> kept[] = {
        {L"a.txt", L"a.txt"},       {L"dir/sub/b.ini", L"dir\\sub\\b.ini"},
        {L"dir\\", L"dir"},         {L"داده/گزارش.txt", L"داده\\گزارش.txt"},
        {L"conf.txt", L"conf.txt"}, {L"COM10", L"COM10"},
        {L"a~b~.txt", L"a~b~.txt"}, {L"COM", L"COM"},
    };
    for (const auto& [name, relative] : kept) {
        const auto path = zip::SafeEntryPath(name);
        EXPECT_EQ(path ? path->relative : L"refused", relative) << testing::PrintToString(name);
    }
    // clang-format off
    const wchar_t* const refused[] = {
        L"..\\evil", L"dir/../../evil", L"/evil", L"\\\\server\\share\\evil", L"C:evil",
        L"C:\\evil", L"a.txt:stream", L"a//b", L"./a", L"", L"/", L"...", L"a.", L"a ", L"a?b",
        L"a\x01", L"CON", L"dir/nul.txt", L"Com1", L"LPT9.log", L"COM\u00B9", L"con .txt",
        L"CONOUT$", L"COM0", L"lpt0.txt", L"ZEL_AC~1.EXE", L"PROGRA~1/x", L"x/~9"};
    // clang-format on
    for (const wchar_t* name : refused) {
        EXPECT_FALSE(zip::SafeEntryPath(name)) << testing::PrintToString(name);
    }
}

TEST(EntryPathSet, RefusesTwoNamesForOneFile) {
    // An archive's names, and whether they all name files of their own.
    const std::pair<std::vector<const wchar_t*>, bool> cases[] = {
        {{L"zel_acc.exe", L"data/zel_acc.exe", L"data/"}, true},
        {{L"zel_acc.exe", L"ZEL_ACC.EXE"}, false},
        {{L"data/a.txt", L"DATA/A.txt"}, false},
        {{L"dir/", L"Dir\\"}, false},
        {{L"\u00E9t\u00E9.txt", L"\u00C9T\u00C9.txt"}, false},
        {{L"a.txt", L"a.txt"}, false},
    };
    for (const auto& [names, distinct] : cases) {
        zip::EntryPathSet paths;
        bool added = true;
        for (const wchar_t* name : names) {
            added = added && paths.Add(zip::SafeEntryPath(name).value());
        }
        EXPECT_EQ(added, distinct) << testing::PrintToString(names[1]);
    }
}

}  // namespace
