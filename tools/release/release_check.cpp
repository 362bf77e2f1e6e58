// Lets the release script read versions and manifests with the updater's own
// code, so that what the vendor publishes is exactly what the updater sees.
//   release_check version FILE     prints the file's ProductVersion, as the
//                                  updater reads it, with "+" kept
//   release_check manifest FILE    reads a UTF-8 manifest as the updater does
//                                  and prints its fields, one "key=value" a line
//   release_check verify FILE KEY  checks a UTF-8 manifest's signature as the
//                                  updater built with the public KEY (the hex
//                                  of tools/release_key.sh) would; prints
//                                  signature=good|missing|malformed|bad
//                                  (either statement form)
//   release_check statement FILE   prints the exact text the updater signs
//                                  for a UTF-8 manifest, with no line end
//                                  added, so a signer can compare its own
// Output is UTF-8. Exit code 1 when the version cannot be read, the
// signature is not good or the manifest gives no statement (malformed).
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <optional>
#include <string>

#include "common/unique_handle.h"
#include "common/utf8.h"
#include "app/release_trust.h"
#include "update/installed_version.h"
#include "update/manifest_reader.h"

namespace {

std::string ReadFileBytes(const wchar_t* path) {
    std::string bytes;
    UniqueFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[65536];
    DWORD read = 0;
    while (file && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

void PrintLine(const std::wstring& key, const std::wstring& value) {
    const std::string line = WideToUtf8(key + L"=" + value) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) {
        std::fputs("usage: release_check version|manifest|statement FILE | verify FILE KEY\n",
                   stderr);
        return 2;
    }
    const std::wstring what = argv[1];
    if (what == L"version") {
        const std::optional<std::wstring> version = ReadProductVersion(argv[2]);
        if (!version) {
            return 1;
        }
        PrintLine(L"version", *version);
        return 0;
    }
    if (what == L"manifest") {
        std::wstring text;
        Utf8ToWide(ReadFileBytes(argv[2]), text);
        const UpdateManifest m = ParseManifest(text);
        PrintLine(L"version", m.version);
        PrintLine(L"url", m.url);
        PrintLine(L"sha256", m.sha256);
        PrintLine(L"notes", m.notes);
        PrintLine(L"releaseDate", m.releaseDate);
        PrintLine(L"uploadDate", m.uploadDate);
        PrintLine(L"mandatory", m.mandatory ? L"true" : L"false");
        PrintLine(L"signature", m.signature);
        // Only when there, so that a manifest of the older form reads as before.
        if (m.length) {
            PrintLine(L"length", *m.length);
        }
        if (m.signedAt) {
            PrintLine(L"signed", *m.signedAt);
        }
        return 0;
    }
    if (what == L"statement") {
        std::wstring text;
        Utf8ToWide(ReadFileBytes(argv[2]), text);
        const auto statement = ReleaseStatement(SignedFieldsOf(ParseManifest(text)));
        const auto bytes = statement ? WideToUtf8Exact(*statement) : std::nullopt;
        if (!bytes) {
            std::fputs("release_check: the manifest gives no statement (malformed)\n", stderr);
            return 1;
        }
        // Byte for byte: a text-mode stdout would turn each "\n" into "\r\n".
        _setmode(_fileno(stdout), _O_BINARY);
        std::fwrite(bytes->data(), 1, bytes->size(), stdout);
        return 0;
    }
    if (what == L"verify" && argc == 4) {
        std::wstring text;
        Utf8ToWide(ReadFileBytes(argv[2]), text);
        const auto key = ReadPublicKey(WideToUtf8(argv[3]));
        if (!key) {
            std::fputs("release_check: the key is not an ECDSA P-256 public key\n", stderr);
            return 2;
        }
        const SignatureVerdict verdict = CheckReleaseSignature(ParseManifest(text), *key);
        const std::string name = SignatureVerdictName(verdict);
        PrintLine(L"signature", std::wstring(name.begin(), name.end()));
        return verdict == SignatureVerdict::kGood ? 0 : 1;
    }
    return 2;
}
