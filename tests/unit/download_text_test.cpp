#include <gtest/gtest.h>

#include <tuple>

#include "app/release_trust.h"
#include "download/length_headers.h"
#include "download/progress.h"
#include "download/resume_record.h"
#include "download/sha256.h"
#include "download/url_path.h"

namespace {

TEST(RequestPathFromUrl, TakesThePathFromTheFirstSlashAfterTheScheme) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"https://updates.example.com/files/zel.zip", L"/files/zel.zip"},
        {L"https://other.example.net/zel.zip?token=a/b&x=1", L"/zel.zip?token=a/b&x=1"},
        {L"https://updates.example.com", L"/"},
        {L"https://", L"/"},
        {L"", L"/"},
        {L"http://h/x", L"/x"},
        {L"zel.zip", L"/"},
    };
    for (const auto& [url, path] : cases) {
        EXPECT_EQ(RequestPathFromUrl(url), path) << testing::PrintToString(url);
    }
}

// Only "https://host[:port]/path" names a mirror; anything else is not one.
TEST(ParseHttpsUrl, TakesHostPortAndPathOrNothing) {
    const std::tuple<const wchar_t*, const wchar_t*, unsigned short, const wchar_t*> cases[] = {
        {L"https://cdn.example.com/zel/zel.zip?v=2", L"cdn.example.com", 443, L"/zel/zel.zip?v=2"},
        {L"HTTPS://Mirror-2.example:8443/zel.zip", L"Mirror-2.example", 8443, L"/zel.zip"},
        {L"https://127.0.0.1:1/z", L"127.0.0.1", 1, L"/z"},
        {L"http://cdn.example.com/zel.zip", nullptr, 0, nullptr},
        {L"https://cdn.example.com", nullptr, 0, nullptr},
        {L"https:///zel.zip", nullptr, 0, nullptr},
        {L"https://user@cdn.example.com/zel.zip", nullptr, 0, nullptr},
        {L"https://[::1]:443/zel.zip", nullptr, 0, nullptr},
        {L"https://cdn.example.com:0/zel.zip", nullptr, 0, nullptr},
        {L"https://cdn.example.com:65536/zel.zip", nullptr, 0, nullptr},
        {L"https://cdn.example.com:/zel.zip", nullptr, 0, nullptr},
        {L"https://cdn.example.com:44x/zel.zip", nullptr, 0, nullptr},
        {L"https://cdn.example.com%2f@evil/zel.zip", nullptr, 0, nullptr},
        {L"https://-cdn.example/zel.zip", nullptr, 0, nullptr},
    };
    for (const auto& [url, host, port, path] : cases) {
        const auto parsed = ParseHttpsUrl(url);
        ASSERT_EQ(parsed.has_value(), host != nullptr) << testing::PrintToString(url);
        if (parsed) {
            EXPECT_EQ(parsed->host, host);
            EXPECT_EQ(parsed->port, port);
            EXPECT_EQ(parsed->path, path);
        }
    }
}

// A mirror only where a signature covers the whole url and it names another
// place than the update server.
TEST(MirrorOf, OnlyASignedWholeUrlNamingAnotherPlace) {
    const RequestTarget server{L"updates.example.com", 443, false};
    const auto manifest = [](const wchar_t* url, bool form2) {
        UpdateManifest m;
        m.url = url;
        if (form2) {
            m.length = L"100";
            m.signedAt = L"2026-12-01T00:00:00Z";
        }
        return m;
    };
    const std::tuple<UpdateManifest, bool, const wchar_t*> cases[] = {
        {manifest(L"https://cdn.example.net:8443/zel.zip", true), true, L"cdn.example.net:8443"},
        {manifest(L"https://updates.example.com:8443/zel.zip", true), true,
         L"updates.example.com:8443"},
        {manifest(L"https://cdn.example.net/zel.zip", true), false, nullptr},
        {manifest(L"https://cdn.example.net/zel.zip", false), true, nullptr},
        {manifest(L"https://UPDATES.example.com/zel.zip", true), true, nullptr},
        {manifest(L"http://cdn.example.net/zel.zip", true), true, nullptr},
    };
    for (const auto& [m, releasesSigned, wanted] : cases) {
        const auto mirror = MirrorOf(m, releasesSigned, server);
        ASSERT_EQ(mirror.has_value(), wanted != nullptr) << testing::PrintToString(m.url);
        if (mirror) {
            EXPECT_EQ(mirror->host + L":" + std::to_wstring(mirror->port), wanted);
            EXPECT_TRUE(mirror->mirror);
        }
    }
}

TEST(FormatProgressText, WritesPercentSpeedAndRemainingTime) {
    // The file's length, the bytes on disk and those of this transfer, its
    // seconds, and the text.
    const std::tuple<uint64_t, uint64_t, uint64_t, double, const wchar_t*> cases[] = {
        {2097152, 524288, 524288, 2.0, L"25%   سرعت دانلود: 256 KB/s   زمان باقی مانده: 6 ثانیه"},
        {2097152, 16384, 16384, 0.0, L"0%   سرعت دانلود: 0 KB/s   زمان باقی مانده: 0 ثانیه"},
        {0, 300000, 300000, 1.5, L"0%   سرعت دانلود: 195 KB/s   زمان باقی مانده: 0 ثانیه"},
        {1000, 1000, 1000, 0.5, L"100%   سرعت دانلود: 1 KB/s   زمان باقی مانده: 0 ثانیه"},
        {4294967295u, 1, 1, 1000.0,
         L"0%   سرعت دانلود: 0 KB/s   زمان باقی مانده: 4294967294000 ثانیه"},
        {4294967295u, 4294967295u, 4294967295u, 1.0,
         L"100%   سرعت دانلود: 4194303 KB/s   زمان باقی مانده: 0 ثانیه"},
        // Resumed at 60 %: the part counts toward the percentage, not the speed.
        {1000000, 700000, 102400, 1.0, L"70%   سرعت دانلود: 100 KB/s   زمان باقی مانده: 2 ثانیه"},
    };
    for (const auto& [length, kept, transferred, seconds, text] : cases) {
        EXPECT_EQ(FormatProgressText(ComputeProgress(length, kept, transferred, seconds)), text);
    }
}

TEST(ComputeProgress, FormsThePercentageIn64Bits) {
    EXPECT_EQ(ComputeProgress(4000000000u, 3999999999u, 1, 1).percent, 99u);
    EXPECT_EQ(ComputeProgress(100, 150, 150, 1).percent, 100u) << "never more than the whole";
    EXPECT_EQ(ComputeProgress(100, 150, 150, 1).remaining, 0.0);
}

TEST(LengthHeaders, ReadsSixtyFourBitsOrNothing) {
    EXPECT_EQ(ParseContentLength(L"18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(ParseContentRange(L"bytes 1-4999999999/5000000000")->total, 5000000000u);
    for (const wchar_t* bad : {L"18446744073709551616", L"", L"12a", L"-1", L"bytes */1000",
                               L"bytes 5-4/10", L"bytes 0-10/10", L"bytes 1-2/3 "}) {
        EXPECT_FALSE(ParseContentLength(bad) || ParseContentRange(bad))
            << testing::PrintToString(bad);
    }
}

TEST(ResumeRecord, ContinuesOnlyTheSameFile) {
    const auto record = ParseResumeRecord(FormatResumeRecord({L"/z?v=2", L"", L"\"6\"", 10, 4}));
    ASSERT_TRUE(record);
    EXPECT_TRUE(RecordContinues(*record, L"/z?v=2", L"", 4));
    EXPECT_FALSE(RecordContinues(*record, L"/z?v=3", L"", 4)) << "another path";
    EXPECT_FALSE(RecordContinues(*record, L"/z?v=2", L"ab", 4)) << "another digest";
    EXPECT_FALSE(RecordContinues(*record, L"/z?v=2", L"", 3)) << "a part cut short";
    EXPECT_TRUE(RangeContinues(*record, {4, 9, 10}));
    EXPECT_FALSE(RangeContinues(*record, {4, 10, 11}) || RangeContinues(*record, {0, 9, 10}));
    EXPECT_FALSE(ParseResumeRecord("path=/\nvalidator=\ntotal=9\nkept=1\n")) << "no validator";
    EXPECT_FALSE(ParseResumeRecord(FormatResumeRecord({L"/z", L"", L"\"a\"\rX: 1", 10, 4})))
        << "a validator that cannot be sent back as it is";
}

TEST(Sha256, GivesTheStandardDigestsWithAndWithoutTheProcessorsInstructions) {
    // The message, how many times over, and its digest (FIPS 180-2's examples).
    const std::tuple<std::string, size_t, const char*> cases[] = {
        {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [message, times, digest] : cases) {
        for (const bool instructions : {true, false}) {
            Sha256 hash(instructions);
            std::string whole;
            for (size_t i = 0; i < times; ++i) {
                whole += message;
            }
            // In uneven pieces, so that blocks are split across calls.
            for (size_t at = 0, piece = 1; at < whole.size();
                 at += piece, piece = piece * 3 % 200) {
                hash.Update(whole.data() + at, std::min(piece, whole.size() - at));
            }
            EXPECT_EQ(Sha256ToHex(hash.Finish()), digest) << message.substr(0, 8) << instructions;
        }
    }
    // Every length around the padding's edges, both ways alike.
    std::string bytes;
    for (size_t length = 0; length < 200; ++length, bytes += static_cast<char>(length * 7)) {
        Sha256 fast(true), plain(false);
        fast.Update(bytes.data(), bytes.size());
        plain.Update(bytes.data(), bytes.size());
        EXPECT_EQ(fast.Finish(), plain.Finish()) << length;
    }
}

}  // namespace
