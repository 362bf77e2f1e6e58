// Helpers shared by the test programs: where the fixtures are, scratch
// folders, files, child processes and the stand-in application's records.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// The folder of the test programs and fixtures (bin in the build tree).
std::wstring BinFolder();
// bin\apps\<variant>\zel_acc.exe
std::wstring AppVariant(const std::wstring& variant);

// A fresh folder that becomes the current directory and is removed, with
// everything in it, when the test ends.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
    std::wstring previous_;
};

// How long a test waits for something that is bound to happen: a bound, not
// a duration (a wait ends as soon as it happens), generous for a busy machine.
inline constexpr DWORD kEventWaitMs = 60000;

// Asks `done` every 10 ms until it holds or the time is up; its last answer.
template <typename Done>
bool WaitUntil(Done done, DWORD timeoutMs = kEventWaitMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done() && GetTickCount64() < deadline) {
        Sleep(10);
    }
    return done();
}

void MakeFolder(const std::wstring& path);
void CopyInto(const std::wstring& source, const std::wstring& target);
void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);

// Installs the stand-in application of a variant as ZEL\zel_acc.exe below
// the folder.
void InstallApp(const std::wstring& folder, const std::wstring& variant);

struct AppRecord {
    std::wstring event;  // start, close-main or close-hidden
    std::wstring version;
    DWORD pid = 0;
    std::wstring folder;
    std::wstring commandLine;
};
// Points ZEL_APP_RECORD at a file in the folder; children inherit it.
std::wstring UseAppRecord(const std::wstring& folder);
std::vector<AppRecord> ReadAppRecords(const std::wstring& recordFile);
std::vector<AppRecord> WaitForAppRecords(const std::wstring& recordFile, size_t count,
                                         DWORD timeoutMs = kEventWaitMs);

struct ChildProcess {
    HANDLE process = nullptr;
    DWORD pid = 0;
};
ChildProcess StartProcess(const std::wstring& commandLine, const std::wstring& folder = L"");
// Exit code, or STILL_ACTIVE when it did not end in time (then it is killed,
// with every process it started).
DWORD WaitForExit(ChildProcess& child, DWORD timeoutMs);
// Ends every program started from this test program's scratch folders;
// other test programs running meanwhile keep theirs.
void KillStrayApps();
// A copy of the application from another office (`office`\other\ZEL) whose
// current folder is this office's `folder`, so that it cannot be moved until
// the copy ends after lifetimeMs. It records to other-record.txt in the office.
ChildProcess StartZelHolder(const std::wstring& office, DWORD lifetimeMs,
                            const std::wstring& folder = L"ZEL");

// What the test build's updater started next finds as PowerShell (it names
// the stand-in through ZEL_TEST_POWERSHELL): the stand-in as it is, the
// stand-in failing as PowerShell blocked by policy or antivirus does, hanging,
// saying 0 after writing half the files, or no PowerShell at all.
enum class PowerShell { kStandIn, kBlocked, kHung, kHalf, kMissing };
void UsePowerShell(PowerShell way);

std::wstring Narrow2Wide(const std::string& utf8);
std::string Wide2Narrow(const std::wstring& text);
std::string Sha256Hex(const std::string& bytes);

}  // namespace testing_support
