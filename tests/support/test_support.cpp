#include "support/test_support.h"

#include <bcrypt.h>
#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <sstream>
#include <vector>

#include "common/unique_handle.h"
#include "common/utf8.h"
#include "download/sha256.h"
#include "install/app_processes.h"
#include "install/folders.h"

namespace testing_support {

std::wstring BinFolder() {
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::wstring AppVariant(const std::wstring& variant) {
    return BinFolder() + L"\\apps\\" + variant + L"\\zel_acc.exe";
}

namespace {
// bin\\..\\scratch\\<this process's id> in full: every scratch folder of this
// test program lies inside.
std::wstring ScratchParent() {
    wchar_t full[MAX_PATH * 2] = {};
    const std::wstring parent =
        BinFolder() + L"\\..\\scratch\\" + std::to_wstring(GetCurrentProcessId());
    GetFullPathNameW(parent.c_str(), MAX_PATH * 2, full, nullptr);
    return full;
}
}  // namespace

ScratchFolder::ScratchFolder() {
    wchar_t previous[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, previous);
    previous_ = previous;
    // Named after the test, whose names are plain identifiers.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = ScratchParent() + L"\\" +
            Narrow2Wide(std::string(info->test_suite_name()) + "." + info->name());
    RemoveFolderTree(path_);
    MakeFolder(path_);
    SetCurrentDirectoryW(path_.c_str());
}

ScratchFolder::~ScratchFolder() {
    SetCurrentDirectoryW(previous_.c_str());
    RemoveFolderTree(path_);
    RemoveDirectoryW(ScratchParent().c_str());  // once it holds no other
}

void MakeFolder(const std::wstring& path) {
    SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
}

void CopyInto(const std::wstring& source, const std::wstring& target) {
    ASSERT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE))
        << Wide2Narrow(source) << " -> " << Wide2Narrow(target);
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << Wide2Narrow(path);
    DWORD written = 0;
    ASSERT_TRUE(
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

std::string ReadBytes(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!file) {
        return bytes;
    }
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void InstallApp(const std::wstring& folder, const std::wstring& variant) {
    MakeFolder(folder + L"\\ZEL");
    CopyInto(AppVariant(variant), folder + L"\\ZEL\\zel_acc.exe");
}

std::wstring UseAppRecord(const std::wstring& folder) {
    const std::wstring file = folder + L"\\app-record.txt";
    SetEnvironmentVariableW(L"ZEL_APP_RECORD", file.c_str());
    return file;
}

std::vector<AppRecord> ReadAppRecords(const std::wstring& recordFile) {
    std::vector<AppRecord> records;
    std::wistringstream lines(Narrow2Wide(ReadBytes(recordFile)));
    for (std::wstring line; std::getline(lines, line);) {
        std::wistringstream fields(line);
        AppRecord r;
        std::wstring pid, image;
        if (std::getline(fields, r.event, L'\t') && std::getline(fields, r.version, L'\t') &&
            std::getline(fields, pid, L'\t') && std::getline(fields, image, L'\t') &&
            std::getline(fields, r.folder, L'\t') && std::getline(fields, r.commandLine)) {
            r.pid = std::stoul(pid);
            records.push_back(r);
        }
    }
    return records;
}

std::vector<AppRecord> WaitForAppRecords(const std::wstring& recordFile, size_t count,
                                         DWORD timeoutMs) {
    WaitUntil([&] { return ReadAppRecords(recordFile).size() >= count; }, timeoutMs);
    return ReadAppRecords(recordFile);
}

ChildProcess StartProcess(const std::wstring& commandLine, const std::wstring& folder) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring buffer = commandLine;
    ChildProcess child;
    if (CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        CloseHandle(info.hThread);
        child.process = info.hProcess;
        child.pid = info.dwProcessId;
    }
    return child;
}

namespace {

std::vector<PROCESSENTRY32W> Processes() {
    std::vector<PROCESSENTRY32W> all;
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        all.push_back(entry);
    }
    return all;
}

HANDLE OpenForEnding(DWORD pid) {
    return OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                       pid);
}

ULONGLONG CreationTime(HANDLE process) {
    FILETIME created, unused1, unused2, unused3;
    return GetProcessTimes(process, &created, &unused1, &unused2, &unused3)
               ? (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime
               : 0;
}

// Ends the process and every process it started, children first. Under Wine
// a child whose parent is killed while starting it never starts nor ends,
// and holds the test's output open, so that CTest waits for it.
void TerminateTree(HANDLE process, DWORD pid) {
    const ULONGLONG parentCreated = CreationTime(process);
    for (const PROCESSENTRY32W& e : Processes()) {
        UniqueKernelHandle child(OpenForEnding(e.th32ProcessID));
        // A process made before the parent had the parent's id from another.
        if (e.th32ParentProcessID == pid && e.th32ProcessID != pid && child &&
            CreationTime(child.get()) >= parentCreated) {
            TerminateTree(child.get(), e.th32ProcessID);
        }
    }
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
}

}  // namespace

DWORD WaitForExit(ChildProcess& child, DWORD timeoutMs) {
    if (child.process == nullptr) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(child.process, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(child.process, &code);
    } else {
        TerminateTree(child.process, child.pid);
    }
    CloseHandle(child.process);
    child.process = nullptr;
    return code;
}

void KillStrayApps() {
    const std::vector<std::wstring> mine = {ScratchParent()};
    for (const PROCESSENTRY32W& entry : Processes()) {
        UniqueKernelHandle app(OpenForEnding(entry.th32ProcessID));
        wchar_t image[MAX_PATH * 4] = {};
        DWORD length = MAX_PATH * 4;
        if (app && QueryFullProcessImageNameW(app.get(), 0, image, &length) &&
            IsOfficeApplication(image, mine)) {
            TerminateProcess(app.get(), 0);
            WaitForSingleObject(app.get(), 5000);
        }
    }
}

ChildProcess StartZelHolder(const std::wstring& office, DWORD lifetimeMs,
                            const std::wstring& folder) {
    InstallApp(office + L"\\other", L"v1.2.10.0");
    wchar_t record[MAX_PATH * 2] = {};
    GetEnvironmentVariableW(L"ZEL_APP_RECORD", record, MAX_PATH * 2);
    SetEnvironmentVariableW(L"ZEL_APP_RECORD", (office + L"\\other-record.txt").c_str());
    SetEnvironmentVariableW(L"ZEL_APP_LIFETIME_MS", std::to_wstring(lifetimeMs).c_str());
    ChildProcess holder =
        StartProcess(L"\"" + office + L"\\other\\ZEL\\zel_acc.exe\"", office + L"\\" + folder);
    SetEnvironmentVariableW(L"ZEL_APP_LIFETIME_MS", nullptr);
    SetEnvironmentVariableW(L"ZEL_APP_RECORD", record);
    WaitForAppRecords(office + L"\\other-record.txt", 1);
    return holder;
}

void UsePowerShell(PowerShell way) {
    const std::wstring standIn = BinFolder() + L"\\unpacker\\powershell.exe";
    SetEnvironmentVariableW(L"ZEL_TEST_POWERSHELL", way == PowerShell::kMissing
                                                        ? (standIn + L".absent").c_str()
                                                        : standIn.c_str());
    SetEnvironmentVariableW(L"ZEL_UNPACK_BLOCKED", way == PowerShell::kBlocked ? L"1" : nullptr);
    SetEnvironmentVariableW(L"ZEL_UNPACK_DELAY_MS", way == PowerShell::kHung ? L"60000" : nullptr);
    SetEnvironmentVariableW(L"ZEL_UNPACK_HALF", way == PowerShell::kHalf ? L"1" : nullptr);
}

namespace {
// Every program a test starts finds the stand-in until a test says otherwise.
const bool kStandInNamed = (UsePowerShell(PowerShell::kStandIn), true);
}  // namespace

std::wstring Narrow2Wide(const std::string& utf8) {
    std::wstring text;
    Utf8ToWide(utf8, text);
    return text;
}

std::string Wide2Narrow(const std::wstring& text) {
    return WideToUtf8(text);
}

// By the system's own SHA-256, not the updater's: the tests check the one
// against the other.
std::string Sha256Hex(const std::string& bytes) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    UniqueAlgorithmProvider provider(algorithm);
    BCRYPT_HASH_HANDLE raw = nullptr;
    BCryptCreateHash(algorithm, &raw, nullptr, 0, nullptr, 0, 0);
    UniqueHashObject hash(raw);
    BCryptHashData(raw, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                   static_cast<ULONG>(bytes.size()), 0);
    Sha256Digest digest = {};
    BCryptFinishHash(raw, digest.data(), static_cast<ULONG>(digest.size()), 0);
    return Sha256ToHex(digest);
}

}  // namespace testing_support
