// Answering a proxy that asks who we are (407). The signed-on user's own
// Windows account is offered first (Negotiate, then NTLM), then a name and
// password the user or the office's IT stored for the proxy in Credential
// Manager (Basic). Only the proxy is ever answered: a 401 of the update
// server itself gets no credentials. The log names the scheme and the
// outcome, never a name or a password.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class ProxyAuthScheme { Negotiate, Ntlm, Basic };

const char* ProxyAuthSchemeName(ProxyAuthScheme scheme);

// The schemes to try, in order, of those the proxy offers (WinHTTP's
// WINHTTP_AUTH_SCHEME_* bits). Digest and Passport are never offered to.
std::vector<ProxyAuthScheme> ProxyAuthOrder(DWORD offeredSchemes);

// The Credential Manager targets looked up for Basic, in order: the proxy's
// host (from "host:port", "scheme://host:port" or "[v6]:port"), then the
// updater's own target.
std::vector<std::wstring> ProxyCredentialTargets(const std::wstring& proxy);

enum class ProxyAuthOutcome {
    NotAsked,  // the proxy did not ask: the answer is the request's own
    Passed,    // a scheme was accepted and the answer is past the proxy
    Refused,   // every scheme the proxy offers was refused or had no credentials
    Cut,       // the request's deadline ended the rounds
};

// Called after the request was sent through `proxy` (`sent`: whether sending
// and receiving the headers succeeded). When the proxy asked for credentials
// it answers, one round per scheme, each by calling `resend`, which sends the
// request again and returns whether it went through, or nothing when the
// deadline cut it. Each round is logged.
ProxyAuthOutcome AnswerProxy(HINTERNET request, const std::wstring& proxy, bool& sent,
                             const std::function<std::optional<bool>()>& resend);
