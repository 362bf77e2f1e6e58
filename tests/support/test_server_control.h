// Steers the HTTPS test server: what it answers to the next connections, and
// what it received.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ServerResponse {
    std::string cert = "pinned-valid";  // pinned-expired, pinned-otherhost, other-valid
    int status = 200;
    std::string body{};
    long long bodyPattern = -1;  // serve this many bytes of PatternBytes instead of body
    std::string bodyFile{};      // or serve a file (a path on the server's side)
    bool contentLength = true;
    int delayMs = 0;
    long long dropAfter = -1;
    long long stallAfter = -1;
    int stallMs = 0;
    bool validator = true;          // an ETag derived from the body
    bool ignoreRange = false;       // answer a range request with the whole body
    long long declaredLength = -1;  // a Content-Length other than the body's
    long long rate = 0;             // bytes per second; 0: as fast as it goes
    std::string more = "";          // further JSON members, as test_server.py documents them
};

// The i-th connection from now gets responses[min(i, last)]. Clears the log
// of received requests. `state` names another server's state folder (the
// mirror's) instead of this program's.
void SetServerScenario(const std::vector<ServerResponse>& responses,
                       const wchar_t* state = nullptr);

// The state folder of the mirror, a second test server on another port.
inline constexpr const wchar_t* kMirrorState = L"server-state-mirror";

// From now on this test program, and the updaters it starts, use the server
// of end-to-end group `group` (1-10; 0: the main one), so that groups run side
// by side.
void UseServerGroup(int group);

struct ReceivedRequest {
    std::string requestLine;
    std::vector<std::string> headers;
    long long bodyBytes = 0;
    long long sent = 0;    // body bytes of the answer
    long long timeMs = 0;  // when it arrived, in milliseconds since 1970
};
std::vector<ReceivedRequest> ReceivedRequests(const wchar_t* state = nullptr);

// Ends the stall of an answer with "stall_until_released" (each new scenario
// starts held again).
void ReleaseServerStall();

// The test proxies and the redirect target (test_proxy.py), by role 0-4, and
// what they logged.
inline int ProxyPort(int role) {
    return ZEL_TEST_PROXY_PORT + role;
}
std::string ProxyLog();

// The bytes the server sends for bodyPattern = size.
std::string PatternBytes(size_t size);

}  // namespace testing_support
