#include "install/self_check.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/hex.h"
#include "common/unique_handle.h"
#include "common/utf8.h"
#include "download/sha256.h"
#include "update/server_identity.h"

namespace {

// A working updater answers at once; this bounds a hung or hostile one.
constexpr DWORD kSelfCheckMs = 5000;

// The attribute list that names the only handles a child may inherit.
class InheritedHandles {
  public:
    explicit InheritedHandles(HANDLE handle) : handles_{handle} {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (!InitializeProcThreadAttributeList(list_, 1, 0, &size)) {
            list_ = nullptr;
        } else if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_,
                                              sizeof(handles_), nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
        }
    }
    ~InheritedHandles() {
        if (list_ != nullptr) {
            DeleteProcThreadAttributeList(list_);
        }
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

  private:
    HANDLE handles_[1];
    std::vector<unsigned char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

bool IsSelfCheckRun() {
    const wchar_t* line = GetCommandLineW();
    const size_t length = std::wcslen(line);
    const size_t argument = std::wcslen(kSelfCheckArgument);
    return length >= argument && std::wcscmp(line + length - argument, kSelfCheckArgument) == 0;
}

int AnswerSelfCheck(const char* version) {
    const std::string text = FormatSelfCheckAnswer(BuiltInIdentity(version));
    DWORD written = 0;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return out != nullptr && out != INVALID_HANDLE_VALUE &&
                   WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)
               ? 0
               : 1;
}

UpdaterIdentity BuiltInIdentity(const char* version) {
    UpdaterIdentity identity{
        version, WideToUtf8(kUpdateServerHost), std::to_string(kUpdateServerPort), {}, {}};
    for (size_t i = 0; i < kServerKeyPinCount; ++i) {
        identity.pins.push_back(ToHex(ServerKeyPins[i], sizeof(ServerKeyPins[i])));
    }
    for (size_t i = 0; i < kReleaseKeyCount; ++i) {
        Sha256 hash;
        hash.Update(kReleaseKeys[i], sizeof(kReleaseKeys[i]));
        identity.releaseKeys.push_back(Sha256ToHex(hash.Finish()));
    }
    return identity;
}

// The child inherits only the pipe's write end (the
// office lock and the log stay ours), and the pipe is read once the child has
// ended, for what it holds then: a process the child started and left
// holding the pipe cannot keep the updater, and with it the office's lock,
// waiting.
std::optional<UpdaterIdentity> RunSelfCheck(const std::wstring& path) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    // Larger than any answer, so that the child never waits for a reader.
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 64 * 1024)) {
        return std::nullopt;
    }
    UniqueKernelHandle reader(readEnd);
    UniqueKernelHandle writer(writeEnd);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    InheritedHandles only(writer.get());
    if (only.get() == nullptr) {
        return std::nullopt;
    }
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdOutput = writer.get();
    startup.StartupInfo.hStdError = writer.get();
    startup.lpAttributeList = only.get();
    std::wstring commandLine = L"\"" + path + L"\" " + kSelfCheckArgument;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                        &startup.StartupInfo, &info)) {
        return std::nullopt;
    }
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    writer.reset();
    if (WaitForSingleObject(process.get(), kSelfCheckMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), kSelfCheckMs);
        return std::nullopt;
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    std::string output;
    char buffer[512];
    DWORD available = 0;
    DWORD read = 0;
    while (output.size() < 4096 &&
           PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ReadFile(reader.get(), buffer, std::min<DWORD>(available, sizeof(buffer)), &read,
                    nullptr) &&
           read > 0) {
        output.append(buffer, read);
    }
    if (exitCode != 0) {
        return std::nullopt;
    }
    return ParseSelfCheckAnswer(output);
}
