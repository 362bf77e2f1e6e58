#include "support/test_server_control.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "common/hex.h"
#include "support/test_support.h"

namespace testing_support {

namespace {

// A test program with a server of its own is told its state folder's name.
std::wstring StateFolder(const wchar_t* state) {
    if (state != nullptr) {
        return BinFolder() + L"\\..\\" + state;
    }
    wchar_t own[MAX_PATH] = {};
    const bool named =
        GetEnvironmentVariableW(L"ZEL_TEST_SERVER_STATE", own, MAX_PATH) > 0 && own[0] != L'\0';
    return BinFolder() + L"\\..\\" + (named ? own : L"server-state");
}

std::string ToJson(const ServerResponse& r) {
    std::ostringstream json;
    json << std::boolalpha << "{\"cert\": \"" << r.cert << "\", \"status\": " << r.status << ", ";
    if (r.bodyPattern >= 0) {
        json << "\"body_pattern\": " << r.bodyPattern;
    } else if (!r.bodyFile.empty()) {
        json << "\"body_file\": \"" << r.bodyFile << "\"";
    } else {
        json << "\"body_hex\": \""
             << ToHex(reinterpret_cast<const unsigned char*>(r.body.data()), r.body.size()) << "\"";
    }
    json << ", \"content_length\": " << r.contentLength << ", \"delay_ms\": " << r.delayMs
         << ", \"drop_after\": " << r.dropAfter << ", \"stall_after\": " << r.stallAfter
         << ", \"stall_ms\": " << r.stallMs << ", \"ignore_range\": " << r.ignoreRange
         << ", \"rate\": " << r.rate << ", \"declared_length\": " << r.declaredLength
         << (r.validator ? "" : ", \"etag\": \"\"") << (r.more.empty() ? "" : ", ") << r.more
         << "}";
    return json.str();
}

}  // namespace

void SetServerScenario(const std::vector<ServerResponse>& responses, const wchar_t* state) {
    static int counter = 0;
    std::ostringstream json;
    json << "{\"id\": \"" << GetCurrentProcessId() << "-" << ++counter << "-" << GetTickCount64()
         << "\", \"responses\": [";
    for (size_t i = 0; i < responses.size(); ++i) {
        json << (i ? ", " : "") << ToJson(responses[i]);
    }
    json << "]}";
    const std::wstring folder = StateFolder(state);
    ASSERT_TRUE(Exists(folder + L"\\ready")) << "the test server is not running";
    DeleteFileW((folder + L"\\requests.log").c_str());
    DeleteFileW((folder + L"\\released").c_str());
    // Written beside and renamed, so the server never reads half a scenario.
    WriteBytes(folder + L"\\scenario.tmp", json.str());
    ASSERT_TRUE(MoveFileExW((folder + L"\\scenario.tmp").c_str(),
                            (folder + L"\\scenario.json").c_str(), MOVEFILE_REPLACE_EXISTING));
}

void UseServerGroup(int group) {
    const std::wstring state = L"server-state-e2e" + std::to_wstring(group);
    const std::wstring shift = std::to_wstring(30 * group);
    SetEnvironmentVariableW(L"ZEL_TEST_SERVER_STATE", group > 0 ? state.c_str() : nullptr);
    SetEnvironmentVariableW(L"ZEL_TEST_PORT_SHIFT", group > 0 ? shift.c_str() : nullptr);
}

void ReleaseServerStall() {
    WriteBytes(StateFolder(nullptr) + L"\\released", "");
}

std::vector<ReceivedRequest> ReceivedRequests(const wchar_t* state) {
    std::vector<ReceivedRequest> requests;
    std::istringstream log(ReadBytes(StateFolder(state) + L"\\requests.log"));
    std::string line;
    ReceivedRequest current;
    while (std::getline(log, line)) {
        if (line.rfind("REQUEST ", 0) == 0) {
            current = {line.substr(8), {}, 0, 0, 0};
        } else if (line.rfind("HEADER ", 0) == 0) {
            current.headers.push_back(line.substr(7));
        } else if (line.rfind("BODY ", 0) == 0) {
            current.bodyBytes = std::stoll(line.substr(5));
        } else if (line.rfind("TIME ", 0) == 0) {
            current.timeMs = std::stoll(line.substr(5));
        } else if (line == "END") {
            requests.push_back(current);
        } else if (line.rfind("SENT ", 0) == 0 && !requests.empty()) {
            requests.back().sent = std::stoll(line.substr(5));
        }
    }
    return requests;
}

std::string ProxyLog() {
    return ReadBytes(BinFolder() + L"\\..\\proxy-state\\proxy.log");
}

std::string PatternBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i % (251 * 256) % 251);
    }
    return bytes;
}

}  // namespace testing_support
